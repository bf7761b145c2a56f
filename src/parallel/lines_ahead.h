#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

#include "parallel/line_blocks.h"
#include "ranges/ip_range.h"
#include "ranges/ipv6_range.h"
#include "ranges/range_list.h"

namespace blockset {

struct ipv6_list;

/// Collects the ranges of the lines read ahead in order, merging each into the one before
/// where it extends it, as lists in order mostly do. data has room for every range handed.
/// IPv6 ranges go to room of their own, which a reader of IPv4 lines only has none of.
struct range_run {
    ip_range* data;
    std::size_t count = 0;
    /// Ranges that start below the one before.
    std::size_t out_of_order = 0;
    ipv6_range* ipv6_data = nullptr;
    std::size_t ipv6_room = 0;
    std::size_t ipv6_count = 0;

    /// Keeps an IPv6 range; false, keeping nothing, when its room is full: the line that
    /// holds it is then left to the reader.
    bool add_ipv6(const ipv6_range& range)
    {
        if (ipv6_count == ipv6_room) return false;
        ipv6_data[ipv6_count++] = range;
        return true;
    }

    void operator()(std::uint32_t first, std::uint32_t last)
    {
        if (first > last) return;
        if (count > 0 && first < data[count - 1].first) {
            ++out_of_order;
            data[count++] = ip_range{first, last};
            return;
        }
        count = extend_or_append(data, count, ip_range{first, last});
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
    /// read takes the complete lines at the start of the bytes held, up to the first it leaves
    /// to the main thread, and counts them as line_feeds; with ipv6, it may keep IPv6 ranges
    /// too. The memory the second thread uses is taken here, so that it allocates nothing
    /// itself.
    void start(int fd, plain_lines_reader<range_run> read, std::size_t smallest, bool ipv6 = false);
    /// Gives the list room for a range per shortest line of the bytes read ahead and before,
    /// once started: it then fills one block and takes the second half's ranges without
    /// growing while their block is held. Where that room cannot be had, memory is short:
    /// releases, and the reader reads in turn, which needs the least.
    void reserve_room_in(range_list& list);
    /// Gives the IPv6 list room for an IPv6 range per 16 bytes read ahead and before (lines
    /// of IPv6 entries are longer), as far as the system has it, once started.
    void reserve_room_in(ipv6_list& list);
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
        /// The IPv6 ranges they add, sorted, disjoint and non-adjacent, and how many IPv6
        /// entries gave them.
        std::span<const ipv6_range> ipv6_ranges;
        std::size_t ipv6_entries = 0;
    };
    /// Asks the second processor to stop reading at its next block of lines and keep what it
    /// has read: a slow second processor leaves the rest to the main thread rather than hold it
    /// up.
    void stop_reading();
    /// Waits for the second processor; it is no longer running. What it found lasts until
    /// release(). Where the file is no longer the one it started on, or has changed since
    /// (another size or modification time), what was read ahead is dropped: the result then
    /// ends at the cut and adds nothing, and the reader goes on alone.
    found finish();
    /// Stops the second processor if it is still reading, and gives back its memory.
    void release();

    /// Adds what finish() found to the list at once, and releases, when it came in order or
    /// nearly; ranges out of order wait instead, to be sorted with the list's own by
    /// add_waiting_to once the reading ends.
    void add_found_to(range_list& list);
    /// Adds the IPv6 ranges that finish() found to the list, once.
    void add_found_ipv6_to(ipv6_list& list);
    /// Adds the ranges that wait, if any, to the list, and releases.
    void add_waiting_to(range_list& list);

    /// How many times, in this run, a reader took lines that the second processor had read.
    static unsigned taken_count();

private:
    struct job;
    job* job_ = nullptr;
    bool finished_ = false;
};

} // namespace blockset
