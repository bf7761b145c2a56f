#include "parsing/scanner.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "io/diagnostics.h"
#include "io/output_stream.h"
#include "io/process.h"

namespace blockset {

namespace {
constexpr std::size_t initial_capacity = 16384;
/// A terminal is read a line at a time, up to this many bytes.
constexpr std::size_t largest_read = 8192;
/// Files and pipes are read ahead in blocks of this size, few system calls for a long input.
constexpr std::size_t block_size = 128 * 1024;
} // namespace

scanner::~scanner()
{
    std::free(storage_);
    std::free(block_);
}

void scanner::restart(int fd)
{
    fd_ = fd;
    text_mode_ = false;
    text_source_ = {};
    int saved_errno = errno;
    interactive_ = isatty(fd) == 1;
    struct stat status {};
    regular_file_ = fd >= 0 && ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    errno = saved_errno;
    stream_ended_ = false;
    ended_ = false;
    count_lines();
    count_ = position_ = counted_ = 0;
    block_begin_ = block_end_ = 0;
    taken_ = 0;
    if (storage_ == nullptr) {
        storage_ = static_cast<char*>(std::malloc(initial_capacity + 2));
        if (storage_ == nullptr) scanner_fatal("out of dynamic memory in yy_create_buffer()");
        capacity_ = initial_capacity;
    }
}

void scanner::restart(std::string_view text)
{
    restart(-1);
    interactive_ = false;
    text_mode_ = true;
    text_source_ = text;
}

std::size_t scanner::read_some(char* into, std::size_t amount)
{
    if (text_mode_) {
        std::size_t n = std::min(amount, text_source_.size());
        std::memcpy(into, text_source_.data(), n);
        text_source_.remove_prefix(n);
        stream_ended_ = text_source_.empty();
        return n;
    }
    if (interactive_) {
        // A reader on a terminal waits for the user, who should see every output first.
        standard_output().flush();
        return read_stream(into, std::min(amount, largest_read));
    }
    if (block_begin_ == block_end_) {
        if (block_ == nullptr) {
            block_ = static_cast<char*>(std::malloc(block_size));
            if (block_ == nullptr) scanner_fatal("out of dynamic memory in yy_create_buffer()");
        }
        block_begin_ = 0;
        block_end_ = read_stream(block_, block_size);
    }
    std::size_t n = std::min(amount, block_end_ - block_begin_);
    std::memcpy(into, block_ + block_begin_, n);
    block_begin_ += n;
    return n;
}

std::size_t scanner::read_stream(char* into, std::size_t amount)
{
    if (stream_ended_) return 0;
    for (;;) {
        ssize_t got = ::read(fd_, into, amount);
        if (got >= 0) {
            auto count = static_cast<std::size_t>(got);
            // After Ctrl-D on a terminal, or once a file has run out, the stream stays ended,
            // even when it grows meanwhile (a script that saves into its own file).
            if (count == 0 || (regular_file_ && count < amount)) stream_ended_ = true;
            taken_ += count;
            return count;
        }
        if (errno == EINTR && !interactive_) continue;
        scanner_fatal("input in flex scanner failed");
    }
}

int scanner::line_feeds(std::size_t from, std::size_t to) const
{
    int lines = 0;
    while (from < to) {
        // At most 255 bytes at a time, whose count fits in a byte: the compiler then counts
        // many bytes at once.
        std::size_t end = std::min(to, from + 255);
        unsigned char in_part = 0;
        for (std::size_t i = from; i < end; ++i) in_part += storage_[i] == '\n';
        lines += in_part;
        from = end;
    }
    return lines;
}

bool scanner::skip(std::uint64_t n, int line_feeds)
{
    // The bytes before the scan position are counted; those passed are the other reader's.
    count_lines();
    std::size_t held = count_ - position_;
    if (n <= held) {
        position_ = counted_ = position_ + static_cast<std::size_t>(n);
        line_number_ += line_feeds;
        return true;
    }
    n -= held;
    count_ = position_ = counted_ = 0;
    const std::size_t in_block = static_cast<std::size_t>(std::min<std::uint64_t>(n, block_end_ - block_begin_));
    block_begin_ += in_block;
    n -= in_block;
    struct stat status {};
    const off_t at = n > 0 && regular_file_ && !text_mode_ ? ::lseek(fd_, 0, SEEK_CUR) : -1;
    if (at >= 0 && ::fstat(fd_, &status) == 0) {
        // Past the file's end, the input ends first.
        if (static_cast<std::uint64_t>(status.st_size - at) < n || ::lseek(fd_, static_cast<off_t>(n), SEEK_CUR) < 0) {
            return false;
        }
        taken_ += n;
        n = 0;
    }
    while (n > 0) {
        std::size_t got = read_some(storage_, static_cast<std::size_t>(std::min<std::uint64_t>(n, capacity_)));
        if (got == 0) return false;
        n -= got;
    }
    line_number_ += line_feeds;
    return true;
}

bool scanner::fill()
{
    // Keep the unfinished token: it is matched again from its start.
    count_lines();
    std::size_t held = count_ - position_;
    if (position_ > 0 && held > 0) std::memmove(storage_, storage_ + position_, held);
    count_ = held;
    position_ = counted_ = 0;
    // A long token is rescanned after each refill, so take in at least as much again as is
    // held: the total rescanning then stays linear in the token's length.
    std::size_t wanted = held > 0 ? held : 1;
    std::size_t added = 0;
    while (added < wanted) {
        while (capacity_ <= count_ + 1) {
            std::size_t grown = capacity_ * 2;
            char* larger = static_cast<char*>(std::realloc(storage_, grown + 2));
            if (larger == nullptr) scanner_fatal("fatal error - scanner input buffer overflow");
            storage_ = larger;
            capacity_ = grown;
        }
        std::size_t room = capacity_ - count_ - 1;
        std::size_t got = read_some(storage_ + count_, room);
        if (got == 0) break;
        count_ += got;
        added += got;
        if (interactive_) break;
    }
    return added > 0;
}

bool scanner::next_match(scan_match& match, std::string_view& text)
{
    if (storage_ == nullptr) restart(STDIN_FILENO);
    for (;;) {
        std::string_view rest(storage_ + position_, count_ - position_);
        if (rest.empty()) {
            if (!ended_ && fill()) continue;
            // End of input: the buffer starts afresh over the same stream.
            ended_ = false;
            count_lines();
            count_ = position_ = counted_ = 0;
            return false;
        }
        bool needs_more = false;
        match = rules_(rest, ended_, needs_more);
        if (needs_more && !ended_) {
            if (!fill()) ended_ = true;
            continue;
        }
        if (match.rule == no_rule) {
            // An echoed byte is no match: it counts no line.
            standard_output().put(rest[0]);
            count_lines();
            counted_ = ++position_;
            continue;
        }
        text = rest.substr(0, match.length);
        consume(match.length);
        return true;
    }
}

void scanner_fatal(const char* message) { end_process_fatal(message, 2); }

void report_parse_error(const scanner& language_scanner, const char* message)
{
    diagnostic("error: %s on line: %d\n", message, language_scanner.line_number());
}

} // namespace blockset
