#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace blockset {

/// What a language's rules make of the text at the scan position.
struct scan_match {
    /// The language's rule number, or no_rule when no rule matches there.
    int rule;
    /// Bytes consumed: the token itself, without any right context given back.
    std::size_t length;
};

constexpr int no_rule = -1;

/// A language's rules: the longest match at the start of text, the first rule winning ties.
/// text runs to the end of the input held so far; input_ended says whether more may follow.
/// A rule that runs into the end of text while more input may follow sets needs_more, and the
/// scanner then reads more and asks again from the same position.
using scan_rules = scan_match (*)(std::string_view text, bool input_ended, bool& needs_more);

/// One language's scanner: its input buffer, the longest-match loop, the echo of bytes that
/// no rule takes, and the line counter. Every language owns its own instance.
class scanner {
public:
    explicit scanner(scan_rules rules) : rules_(rules) {}
    ~scanner();
    scanner(const scanner&) = delete;
    scanner& operator=(const scanner&) = delete;

    /// Binds the scanner to an open descriptor for a new run; held input is discarded.
    /// The line counter is kept.
    void restart(int fd);
    /// Binds the scanner to the bytes of text (which must outlive the run).
    void restart(std::string_view text);

    /// The next match of a rule, skipping and echoing bytes that no rule takes. The text stays
    /// valid until the next call. Returns false when the input has ended; a stream that has
    /// ended is not read again until the next restart.
    bool next_match(scan_match& match, std::string_view& text);

    /// The bytes held from the scan position on. A language may match a token here itself
    /// when these bytes alone decide it, and consume() it; all else goes through next_match().
    std::string_view held() const { return {storage_ + position_, count_ - position_}; }
    /// Moves the scan position past the first n held bytes, matches of rules. Their line
    /// feeds count lines: the scanner counts them itself, in bulk, before it lets bytes go.
    void consume(std::size_t n) { position_ += n; }

    /// Bytes of the stream from the restart to the scan position.
    std::uint64_t offset() const { return taken_ - (block_end_ - block_begin_) - (count_ - position_); }
    /// Moves the scan position n bytes further on, over bytes that another reader has read
    /// and counted line_feeds line feeds in, ending at a line start. A file is not read again
    /// for them: the position moves past them. False when the input ends first.
    bool skip(std::uint64_t n, int line_feeds);

    /// 1 at the start of the process, one more for each line feed consumed. Never reset.
    int line_number() const { return line_number_ + line_feeds(counted_, position_); }

    /// Capacity of the held-input storage (grows for long tokens).
    std::size_t capacity() const { return capacity_; }

private:
    int line_feeds(std::size_t from, std::size_t to) const;
    /// Adds the line feeds consumed since the last count to line_number_.
    void count_lines()
    {
        line_number_ += line_feeds(counted_, position_);
        counted_ = position_;
    }
    bool fill();
    std::size_t read_some(char* into, std::size_t amount);
    std::size_t read_stream(char* into, std::size_t amount);

    scan_rules rules_;
    int line_number_ = 1;
    int fd_ = -1;
    std::string_view text_source_;
    bool text_mode_ = false;
    bool interactive_ = false;
    /// A short read of a regular file is its end; other streams end with a read of nothing.
    bool regular_file_ = false;
    /// The stream has reported its end: it is not read again in this run.
    bool stream_ended_ = false;
    /// The stream ended while an unfinished token was held: that token is matched as it is.
    bool ended_ = false;
    char* storage_ = nullptr;
    std::size_t capacity_ = 0;
    std::size_t count_ = 0;
    std::size_t position_ = 0;
    /// The held bytes before this have had their line feeds counted in line_number_.
    std::size_t counted_ = 0;
    /// Bytes of a file or pipe read ahead of the storage; block_begin_ is the next to take.
    char* block_ = nullptr;
    std::size_t block_begin_ = 0;
    std::size_t block_end_ = 0;
    /// Bytes read from the stream since the restart, or skipped in it.
    std::uint64_t taken_ = 0;
};

/// Ends the process with the scanner failure message and status 2.
[[noreturn]] void scanner_fatal(const char* message);

/// Writes "error: <message> on line: <n>" on standard error.
void report_parse_error(const scanner& language_scanner, const char* message);

/// Mirrors the depth of an LR parser's stack, which holds at most 10000 entries.
class parse_depth {
public:
    static constexpr int limit = 10000;
    /// Room for one more entry? False means the stack would overflow.
    [[nodiscard]] bool push()
    {
        if (depth_ >= limit) return false;
        ++depth_;
        return true;
    }
    /// A reduction of n symbols: pops n entries (the caller then pushes the result).
    void pop(int n) { depth_ -= n; }

private:
    int depth_ = 0;
};

} // namespace blockset
