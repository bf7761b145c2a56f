#include "parallel/shared_listing.h"

#include <algorithm>
#include <atomic>
#include <span>

#include "io/output_stream.h"
#include "platform/helper_thread.h"
#include "platform/pages.h"
#include "ranges/listings.h"
#include "ranges/range_list.h"

namespace blockset {

namespace {

/// Ranges a slice holds. A listing of fewer than four slices is written by the main thread
/// alone: a thread and its memory cost more than they save there.
constexpr std::size_t slice_ranges = 8192;
constexpr std::size_t shared_listing = 4 * slice_ranges;

std::atomic<unsigned> slices_formatted{0};

/// The second processor formats the odd slices, each into one of two blocks in turn: the
/// block of slice i held slice i - 4, which the main thread has written out by then.
struct sharing {
    std::span<const ip_range> ranges;
    const listing_format* format;
    std::size_t slices;
    struct block {
        char* text;
        char* end = nullptr;
        std::atomic<bool> filled{false};
    } blocks[2];

    std::span<const ip_range> slice(std::size_t index) const
    {
        const std::size_t begin = index * slice_ranges;
        return ranges.subspan(begin, std::min(slice_ranges, ranges.size() - begin));
    }

    void format_odd_slices()
    {
        for (std::size_t index = 1; index < slices; index += 2) {
            block& into = blocks[index / 2 % 2];
            into.filled.wait(true);
            // A block holds a whole slice's lines at their longest.
            into.end = format->lines_into(slice(index), into.text);
            into.filled.store(true);
            into.filled.notify_one();
        }
    }

    void write_in_order(output_stream& out)
    {
        for (std::size_t index = 0; index < slices; ++index) {
            if (index % 2 == 0) {
                format->write_lines(out, slice(index));
                continue;
            }
            block& from = blocks[index / 2 % 2];
            from.filled.wait(false);
            out.write({from.text, static_cast<std::size_t>(from.end - from.text)});
            from.filled.store(false);
            from.filled.notify_one();
            slices_formatted.fetch_add(1, std::memory_order_relaxed);
        }
    }
};

void write_listing(output_stream& out, range_list& list, const listing_format& format)
{
    const std::span<const ip_range> ranges = range_list_view(list);
    const std::size_t block_bytes = page_round_up(slice_ranges * format.most_bytes, small_page);
    // Mapped, not allocated: only the pages the text fills become resident, and a refusal
    // leaves the listing to the main thread alone.
    char* text = nullptr;
    if (ranges.size() >= shared_listing && usable_processors() > 1) text = static_cast<char*>(page_block_map(2 * block_bytes));
    if (text != nullptr) {
        sharing work{ranges, &format, (ranges.size() + slice_ranges - 1) / slice_ranges, {}};
        work.blocks[0].text = text;
        work.blocks[1].text = text + block_bytes;
        helper_thread formatter;
        const bool shared =
            formatter.start([](void* argument) { static_cast<sharing*>(argument)->format_odd_slices(); }, &work);
        if (shared) {
            work.write_in_order(out);
            formatter.join();
        }
        page_block_unmap(text, 2 * block_bytes);
        if (shared) return;
    }
    format.write_lines(out, ranges);
}

} // namespace

void write_cidr_listing(output_stream& out, range_list& list) { write_listing(out, list, cidr_lines); }

void write_range_listing(output_stream& out, range_list& list) { write_listing(out, list, range_lines); }

unsigned shared_listing_slices() { return slices_formatted.load(std::memory_order_relaxed); }

} // namespace blockset
