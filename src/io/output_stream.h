#pragma once
#include <cstddef>
#include <cstring>
#include <string_view>

namespace blockset {

/// A buffered writer on a file descriptor that remembers whether any write failed.
/// Standard output and every output file go through one of these, so listings and the
/// scanners' echo of unmatched bytes appear in exactly the order they happen.
class output_stream {
public:
    /// Allocates its buffer at once, so that a file need not exist before the memory does.
    /// fd may be -1 until attach() names the descriptor.
    explicit output_stream(int fd, std::size_t capacity = 1 << 16);
    /// Writes through storage that the caller keeps alive; allocates nothing.
    constexpr output_stream(int fd, char* storage, std::size_t capacity)
        : fd_(fd), owned_(false), buffer_(storage), cursor_(storage), limit_(storage + capacity)
    {
    }
    ~output_stream();
    output_stream(const output_stream&) = delete;
    output_stream& operator=(const output_stream&) = delete;

    /// Appends bytes; they reach the descriptor when the buffer fills or on flush().
    void write(std::string_view bytes)
    {
        if (bytes.size() <= static_cast<std::size_t>(limit_ - cursor_)) {
            std::memcpy(cursor_, bytes.data(), bytes.size());
            cursor_ += bytes.size();
        } else {
            write_slow(bytes);
        }
    }
    void put(char c)
    {
        if (cursor_ == limit_) drain();
        *cursor_++ = c;
    }
    /// Room for at least n bytes (n at most the capacity / 2); fill it, then commit().
    char* reserve(std::size_t n)
    {
        if (static_cast<std::size_t>(limit_ - cursor_) < n) drain();
        return cursor_;
    }
    void commit(char* end) { cursor_ = end; }
    /// Size of the buffer; reserve() grants up to half of it.
    std::size_t capacity() const { return static_cast<std::size_t>(limit_ - buffer_); }

    /// Writes out what is buffered. Returns false if this or any earlier write failed; after a
    /// failure later output is discarded.
    bool flush();
    /// Starts over on another descriptor: the buffer is emptied and earlier failures forgotten.
    void attach(int fd);

private:
    void drain();
    void write_slow(std::string_view bytes);
    void write_all(const char* data, std::size_t size);

    int fd_;
    bool owned_ = true;
    bool failed_ = false;
    char* buffer_;
    char* cursor_;
    char* limit_;
};

/// The process's one standard output stream (descriptor 1). It is never closed, and its
/// buffer is static: writing to it, flushing it included, never allocates.
output_stream& standard_output();

} // namespace blockset
