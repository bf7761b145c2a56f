#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

struct gzFile_s;

namespace blockset {

/// What one step of a line_splitter hands out.
struct line_block {
    /// Whole lines, each with its line end (LF, CR or CRLF), except a last line of the stream
    /// that has none. Empty when no line is complete yet.
    std::string_view lines;
    /// The start of a line too long to hold, when lines is empty; its rest is dropped.
    std::string_view overlong;
    /// The stream offset just past what was handed out.
    std::uint64_t end_offset = 0;
};

/// Cuts a stream (through the gzip interface) into lines held in one buffer of 1 MiB. A line
/// end split between two reads counts once; a line longer than the buffer is handed out as
/// its start only. A stream cut short ends inside a line whose rest is lost: that line is not
/// handed out.
class line_splitter {
public:
    /// held: bytes already taken from the stream, which come first.
    line_splitter(gzFile_s* file, std::string_view held);

    /// Reads on and hands out the next lines, stopping at the stream offset stop when that
    /// falls among them.
    line_block next(std::uint64_t stop);
    /// True once the stream has ended (or broke) and everything read was handed out.
    bool ended() const { return ended_; }
    /// True when the stream broke or was cut short.
    bool failed() const { return failed_; }
    /// Reads on from the stream offset given, which the stream was moved to.
    void restart_at(std::uint64_t offset);

    static constexpr std::size_t buffer_size = 1 << 20;

private:
    const char* skip_pending_line_end(const char* start, const char* held_end);
    const char* lines_end(std::uint64_t stop, bool& at_stop) const;

    gzFile_s* file_;
    std::unique_ptr<char[]> buffer_;
    std::size_t size_ = 0;
    std::size_t position_ = 0; // where the bytes not yet handed out start
    std::uint64_t offset_ = 0; // the stream offset of buffer_[0]
    bool ended_ = false;
    bool failed_ = false;
    bool cr_pending_ = false; // the last line handed out ended in a CR: an LF next belongs to it
    bool skipping_ = false;   // the rest of an over-long line is being dropped
};

/// The start of the line after the one ending at line_end, within lines (from next()).
inline const char* line_splitter_step(const char* line_end, const char* lines_end)
{
    if (line_end == lines_end) return line_end;
    if (*line_end++ == '\r' && line_end < lines_end && *line_end == '\n') ++line_end;
    return line_end;
}

} // namespace blockset
