#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

#include "input/plain_lines.h"
#include "ranges/ip_range.h"

namespace blockset {

/// Collects the ranges of the lines read ahead in order, merging each into the one before
/// where it extends it, as lists in order mostly do.
struct range_run {
    ip_range* data;
    std::size_t count = 0;
    /// Ranges that start below the one before.
    std::size_t out_of_order = 0;

    void operator()(std::uint32_t first, std::uint32_t last)
    {
        if (first > last) return;
        if (count > 0) {
            ip_range& tail = data[count - 1];
            // One branch, on whether the range extends the tail: rare for input out of order,
            // and as predictable as the input for input in order. Whether it starts below the
            // tail is counted without one, since input out of order cannot predict it.
            const unsigned below = first < tail.first;
            const unsigned extends = (1 - below) & (unsigned{tail.last == top_address} | unsigned{first <= tail.last + 1});
            if (extends != 0) {
                if (last > tail.last) tail.last = last;
                return;
            }
            out_of_order += below;
        }
        data[count++] = ip_range{first, last};
    }
};

/// The lines of the second half of a large regular file, read on a second processor while a
/// reader reads the first half: the text reader's plain lines, or the auto reader's lines.
/// It only reads: it writes nothing, prints no message and looks up no name, and it stops at
/// the first line it leaves to the reader. The reader takes what it found once its own
/// reading reaches the cut, and drops it unseen when its reading ends before (at a syntax
/// error, say).
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
    /// The same with the reader of another kind of line: read takes the complete lines at
    /// the start of the bytes held, up to the first it leaves to the main thread, and counts
    /// them as line_feeds.
    void start(int fd, plain_lines_reader<range_run> read, std::size_t smallest);
    /// Started, and neither finished nor released.
    bool running() const { return job_ != nullptr && !finished_; }
    /// Where the second half starts, in bytes from the start offset: right after a line feed.
    std::uint64_t cut() const;
    /// The bytes from the start offset to the file's end, as they were when it started.
    std::uint64_t length() const;

    struct found {
        /// The lines read run from the cut to here (bytes from the start offset).
        std::uint64_t end = 0;
        int line_feeds = 0;
        /// What they add, in the order read; ascending, disjoint and non-adjacent when none
        /// is out of order.
        std::span<const ip_range> ranges;
        std::size_t out_of_order = 0;
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

    /// Adds what finish() found to the list at once, and releases, when it came in order or
    /// nearly; ranges out of order wait instead, to be sorted with the list's own by
    /// add_waiting_to once the reading ends.
    void add_found_to(range_list& list);
    /// Adds the ranges that wait, if any, to the list, and releases.
    void add_waiting_to(range_list& list);

private:
    struct job;
    job* job_ = nullptr;
    bool finished_ = false;
};

} // namespace blockset
