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
    explicit output_stream(int fd, std::size_t capacity = 1 << 16);
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

    /// Writes out what is buffered. Returns false if this or any earlier write failed.
    bool flush();
    /// True once a write to the descriptor has failed; later output is discarded.
    bool failed() const { return failed_; }
    bool has_pending() const { return cursor_ != buffer_; }
    int fd() const { return fd_; }

private:
    void drain();
    void write_slow(std::string_view bytes);
    void write_all(const char* data, std::size_t size);

    int fd_;
    bool failed_ = false;
    char* buffer_;
    char* cursor_;
    char* limit_;
};

/// The process's one standard output stream (descriptor 1). It is never closed.
output_stream& standard_output();

} // namespace blockset
