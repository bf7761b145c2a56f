#include "input/line_splitter.h"

#include <cstring>

#include "input/gzip_input.h"

namespace blockset {

namespace {

bool is_line_end(char c) { return c == '\n' || c == '\r'; }

/// End of the last complete line among the bytes held, or 0.
std::size_t complete_lines_end(const char* buffer, std::size_t size)
{
    for (std::size_t i = size; i > 0; --i) {
        if (is_line_end(buffer[i - 1])) return i;
    }
    return 0;
}

} // namespace

line_splitter::line_splitter(gzFile_s* file, std::string_view held)
    : file_(file), buffer_(new char[buffer_size]), size_(held.size())
{
    std::memcpy(buffer_.get(), held.data(), held.size());
}

void line_splitter::restart_at(std::uint64_t offset)
{
    offset_ = offset;
    size_ = 0;
    position_ = 0;
    ended_ = false;
}

/// Past the LF of a CRLF whose CR ended the last read, and past the rest of an over-long line.
const char* line_splitter::skip_pending_line_end(const char* start, const char* held_end)
{
    if (cr_pending_ && start < held_end) {
        cr_pending_ = false;
        if (*start == '\n') ++start;
    }
    if (!skipping_) return start;
    while (start < held_end && !is_line_end(*start)) ++start;
    if (start < held_end) {
        skipping_ = false;
        start = line_splitter_step(start, held_end);
        if (start == held_end && held_end[-1] == '\r') cr_pending_ = true;
    }
    return start;
}

/// Where the lines to hand out end: after the last complete line, at the end of a stream
/// that ended whole, or at stop.
const char* line_splitter::lines_end(std::uint64_t stop, bool& at_stop) const
{
    const char* buffer = buffer_.get();
    const char* end = buffer + (ended_ && !failed_ ? size_ : complete_lines_end(buffer, size_));
    at_stop = stop >= offset_ && stop - offset_ <= static_cast<std::uint64_t>(end - buffer);
    return at_stop ? buffer + (stop - offset_) : end;
}

line_block line_splitter::next(std::uint64_t stop)
{
    char* buffer = buffer_.get();
    size_ -= position_;
    offset_ += position_;
    std::memmove(buffer, buffer + position_, size_);
    position_ = 0;
    int got = gzip_input_read(file_, buffer + size_, buffer_size - size_);
    if (got <= 0) {
        ended_ = true;
        failed_ = got < 0;
    } else {
        size_ += static_cast<std::size_t>(got);
    }
    const char* held_end = buffer + size_;
    const char* start = skip_pending_line_end(buffer, held_end);
    bool at_stop = false;
    const char* end = lines_end(stop, at_stop);
    line_block block;
    if (start < end) {
        block.lines = {start, static_cast<std::size_t>(end - start)};
        cr_pending_ = end[-1] == '\r';
        start = end;
    } else if (!at_stop && !skipping_ && start == buffer && size_ == buffer_size) {
        block.overlong = {buffer, size_};
        skipping_ = true;
    }
    if (skipping_) start = held_end;
    position_ = static_cast<std::size_t>(start - buffer);
    block.end_offset = offset_ + position_;
    return block;
}

} // namespace blockset
