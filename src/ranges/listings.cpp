#include "ranges/listings.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <span>

#include "io/output_stream.h"
#include "io/second_processor.h"
#include "ranges/address_format.h"
#include "ranges/cidr_blocks.h"
#include "ranges/page_storage.h"
#include "ranges/range_list.h"

namespace blockset {

namespace {

/// The longest line of the address listing: "255.255.255.255\n".
constexpr std::size_t max_address_line = max_address_text + 1;

/// Writes one line per address of first..last, which lie in one /24 block. The text
/// "a.b.c." is formatted once; each line is that prefix and the last octet's text, both
/// moved by fixed-size copies, and the line end. A prefix is at most 12 bytes and an octet's
/// text 4, so no copy reaches past the 16 bytes a line may take.
void write_block_addresses(output_stream& out, std::uint32_t first, std::uint32_t last)
{
    char prefix[16] = {};
    std::size_t prefix_length =
        static_cast<std::size_t>(format_address(prefix, first & ~0xFFu) - prefix) - 1;
    const unsigned most_lines =
        static_cast<unsigned>(std::min<std::size_t>(256, out.capacity() / 2 / max_address_line));
    unsigned octet = first & 0xFFu;
    const unsigned last_octet = last & 0xFFu;
    for (;;) {
        unsigned chunk_end = std::min(last_octet, octet + most_lines - 1);
        char* p = out.reserve((chunk_end - octet + 1) * max_address_line);
        for (; octet <= chunk_end; ++octet) {
            std::memcpy(p, prefix, sizeof prefix);
            p += prefix_length;
            std::memcpy(p, octet_texts[octet].text, sizeof octet_texts[octet].text);
            p += octet_texts[octet].length;
            *p++ = '\n';
        }
        out.commit(p);
        if (chunk_end == last_octet) return;
    }
}

/// Room a range line takes: two addresses' room, "-" and the line end.
constexpr std::size_t most_range_line = 2 * address_text_room + 2;
/// Room a CIDR line takes: an address's room, "/nn" and the line end.
constexpr std::size_t most_cidr_line = address_text_room + 4;
/// Room the CIDR lines of one range take: a range has at most 62 blocks.
constexpr std::size_t most_cidr_lines = 62 * most_cidr_line;

/// A listing of this many ranges and more is shared with a second processor, in slices of
/// slice_ranges ranges: the main thread formats every other slice into the output itself,
/// and writes out the ones between, which the second processor formats meanwhile.
constexpr std::size_t slice_ranges = 8192;
constexpr std::size_t shared_listing = 4 * slice_ranges;

/// Formats into memory that holds room for every line it is given.
struct text_block {
    char* cursor;
    char* reserve(std::size_t) { return cursor; }
    void commit(char* end) { cursor = end; }
};

/// A listing shared between the main thread and the second processor, which formats the
/// odd slices into two blocks in turn.
template <class write_lines>
struct shared_listing_work {
    std::span<const ip_range> ranges;
    write_lines write;
    std::size_t slices;
    struct formatted {
        char* text;
        std::size_t length = 0;
        bool filled = false;
    } blocks[2];
    std::mutex lock;
    std::condition_variable changed;

    std::span<const ip_range> slice(std::size_t index) const
    {
        std::size_t begin = index * slice_ranges;
        return ranges.subspan(begin, std::min(slice_ranges, ranges.size() - begin));
    }

    /// The next odd slice that neither thread has taken.
    std::size_t untaken = 1;

    /// The second processor's part: it takes the odd slices the main thread has not reached,
    /// as their blocks come free.
    void format_odd_slices()
    {
        for (;;) {
            std::unique_lock<std::mutex> hold(lock);
            changed.wait(hold, [&] { return untaken >= slices || !blocks[untaken / 2 % 2].filled; });
            if (untaken >= slices) return;
            formatted& block = blocks[untaken / 2 % 2];
            std::span<const ip_range> taken = slice(untaken);
            untaken += 2;
            hold.unlock();
            text_block into{block.text};
            write(into, taken);
            hold.lock();
            block.length = static_cast<std::size_t>(into.cursor - block.text);
            block.filled = true;
            changed.notify_all();
        }
    }

    /// The main thread's part, in the listing's order. It formats an odd slice itself when
    /// the second processor has not taken it yet, so that a slow one never holds it up.
    void write_in_order(output_stream& out)
    {
        for (std::size_t index = 0; index < slices; ++index) {
            std::unique_lock<std::mutex> hold(lock);
            if (index % 2 == 0 || untaken == index) {
                if (untaken == index) {
                    untaken += 2;
                    changed.notify_all();
                }
                hold.unlock();
                write(out, slice(index));
                continue;
            }
            // The second processor took the slice: it fills the slice's block, which held
            // the slice four before, written out already.
            formatted& block = blocks[index / 2 % 2];
            changed.wait(hold, [&] { return block.filled; });
            hold.unlock();
            out.write({block.text, block.length});
            hold.lock();
            block.filled = false;
            changed.notify_all();
        }
    }
};

/// Writes write(sink, ranges)'s lines, where each range takes at most most_bytes, sharing a
/// long listing with the second processor when one can be had. The bytes are the same
/// either way, in the same order.
template <class write_lines>
void write_listing(output_stream& out, std::span<const ip_range> ranges, std::size_t most_bytes, write_lines write)
{
    if (ranges.size() >= shared_listing) {
        const std::size_t block_bytes = page_round_up(slice_ranges * most_bytes, small_page);
        // Mapped, not allocated: the pages that fill become resident, and a refusal leaves
        // the listing to the main thread alone.
        if (auto* text = static_cast<char*>(page_block_map(2 * block_bytes))) {
            shared_listing_work<write_lines> work{ranges, write, (ranges.size() + slice_ranges - 1) / slice_ranges, {}, {}, {}};
            work.blocks[0].text = text;
            work.blocks[1].text = text + block_bytes;
            second_processor formatter;
            if (formatter.start([](void* shared) { static_cast<shared_listing_work<write_lines>*>(shared)->format_odd_slices(); }, &work)) {
                work.write_in_order(out);
                formatter.join();
                page_block_unmap(text, 2 * block_bytes);
                return;
            }
            page_block_unmap(text, 2 * block_bytes);
        }
    }
    write(out, ranges);
}

} // namespace

void range_list_write_ranges(output_stream& out, range_list& list)
{
    write_listing(out, range_list_view(list), most_range_line, [](auto& sink, std::span<const ip_range> ranges) {
        for (const ip_range& range : ranges) {
            char* p = sink.reserve(most_range_line);
            p = format_address(p, range.first);
            *p++ = '-';
            p = format_address(p, range.last);
            *p++ = '\n';
            sink.commit(p);
        }
    });
}

void range_list_write_addresses(output_stream& out, range_list& list)
{
    for (const ip_range& range : range_list_view(list)) {
        std::uint32_t address = range.first;
        for (;;) {
            std::uint32_t block_end = std::min(address | 0xFFu, range.last);
            write_block_addresses(out, address, block_end);
            // Stopping at the range's last address means never stepping past the top one.
            if (block_end == range.last) break;
            address = block_end + 1;
        }
    }
}

namespace {

template <class sink>
void write_cidr_line(sink& out, std::uint32_t address, unsigned prefix_length)
{
    char* p = out.reserve(most_cidr_line);
    p = format_address(p, address);
    *p++ = '/';
    p = format_small_number(p, prefix_length);
    *p++ = '\n';
    out.commit(p);
}

} // namespace

void range_list_write_cidr(output_stream& out, range_list& list)
{
    write_listing(out, range_list_view(list), most_cidr_lines, [](auto& sink, std::span<const ip_range> ranges) {
        for_each_cidr_block(ranges, [&sink](std::uint32_t address, unsigned prefix_length) {
            write_cidr_line(sink, address, prefix_length);
        });
    });
}

void range_list_write_count(output_stream& out, range_list& list)
{
    std::uint64_t blocks = 0;
    auto view = range_list_view(list);
    for_each_cidr_block(view, [&blocks](std::uint32_t, unsigned) { ++blocks; });
    std::uint64_t addresses = 0;
    for (const ip_range& range : view) addresses += std::uint64_t{range.last} - range.first + 1;
    char line[64];
    int length = std::snprintf(line, sizeof line, "%zu %llu %llu\n", view.size(),
                               static_cast<unsigned long long>(blocks), static_cast<unsigned long long>(addresses));
    out.write({line, static_cast<std::size_t>(length)});
}

} // namespace blockset
