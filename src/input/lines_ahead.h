#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

#include "input/plain_lines.h"
#include "ranges/ip_range.h"

namespace blockset {

/// The plain lines of the second half of a large regular file, read on a second processor
/// while the text reader reads the first half. It only reads: it writes nothing, prints no
/// message and looks up no name, and it stops at the first line of another kind. The text
/// reader takes what it found once its own reading reaches the cut, and drops it unseen
/// when its reading ends before (at a syntax error, say).
class lines_ahead {
public:
    lines_ahead() = default;
    ~lines_ahead() { release(); }
    lines_ahead(const lines_ahead&) = delete;
    lines_ahead& operator=(const lines_ahead&) = delete;

    /// Starts on fd, read from its current offset, when it is a regular file with at least
    /// smallest bytes left and a line end past their middle, and a second processor, a thread
    /// and memory can be had; otherwise starts nothing. Changes neither the offset nor errno.
    void start(int fd, plain_line_reader choice, std::size_t smallest);
    /// Started, and neither finished nor released.
    bool running() const { return job_ != nullptr && !finished_; }
    /// Where the second half starts, in bytes from the start offset: right after a line feed.
    std::uint64_t cut() const;
    /// The bytes from the start offset to the file's end, as they were when it started.
    std::uint64_t length() const;

    struct found {
        /// The plain lines run from the cut to here (bytes from the start offset).
        std::uint64_t end = 0;
        int line_feeds = 0;
        /// What they add, in the order read; ascending, disjoint and non-adjacent when sorted.
        std::span<const ip_range> ranges;
        bool sorted = false;
    };
    /// Asks the second processor to stop reading at its next block of lines and keep what it
    /// has read: a slow second processor leaves the rest to the main thread rather than hold it
    /// up.
    void stop_reading();
    /// Waits for the second processor; it is no longer running. What it found lasts until
    /// release().
    found finish();
    /// Stops the second processor if it is still reading, and gives back its memory.
    void release();

private:
    struct job;
    job* job_ = nullptr;
    bool finished_ = false;
};

} // namespace blockset
