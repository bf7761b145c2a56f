#include "parsing/scanner.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "io/diagnostics.h"
#include "io/output_stream.h"
#include "io/process.h"

namespace blockset {

namespace {
constexpr std::size_t initial_capacity = 16384;
constexpr std::size_t largest_read = 8192;
} // namespace

scanner::~scanner() { std::free(storage_); }

void scanner::restart(int fd)
{
    fd_ = fd;
    text_mode_ = false;
    text_source_ = {};
    int saved_errno = errno;
    interactive_ = isatty(fd) == 1;
    errno = saved_errno;
    ended_ = false;
    count_ = position_ = 0;
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
        return n;
    }
    // A reader on a terminal waits for the user, who should see every output first.
    if (interactive_) standard_output().flush();
    for (;;) {
        ssize_t got = ::read(fd_, into, amount);
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno == EINTR && !interactive_) continue;
        scanner_fatal("input in flex scanner failed");
    }
}

bool scanner::fill()
{
    // Keep the unfinished token: it is matched again from its start.
    std::size_t held = count_ - position_;
    if (position_ > 0 && held > 0) std::memmove(storage_, storage_ + position_, held);
    count_ = held;
    position_ = 0;
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
        std::size_t got = read_some(storage_ + count_, room < largest_read ? room : largest_read);
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
            count_ = position_ = 0;
            return false;
        }
        bool needs_more = false;
        match = rules_(rest, ended_, needs_more);
        if (needs_more && !ended_) {
            if (!fill()) ended_ = true;
            continue;
        }
        if (match.rule == no_rule) {
            standard_output().put(rest[0]);
            ++position_;
            continue;
        }
        text = rest.substr(0, match.length);
        position_ += match.length;
        return true;
    }
}

void scanner_fatal(const char* message) { end_process_fatal(message, 2); }

void report_parse_error(const scanner& language_scanner, const char* message)
{
    diagnostic("error: %s on line: %d\n", message, language_scanner.line_number);
}

} // namespace blockset
