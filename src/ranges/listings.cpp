#include "ranges/listings.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>

#include "io/output_stream.h"
#include "ranges/address_format.h"
#include "ranges/cidr_walk.h"
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

} // namespace

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

/// Room the CIDR lines of one range take at most: a range has at most 62 blocks.
constexpr std::size_t most_cidr_lines = 62 * most_cidr_line;

/// Formats into memory that has room for every line it is given.
struct text_block {
    char* cursor;
    char* reserve(std::size_t) { return cursor; }
    void commit(char* end) { cursor = end; }
};

template <class sink>
void write_range_line(sink& out, const ip_range& range)
{
    char* p = out.reserve(most_range_line);
    p = format_address(p, range.first);
    *p++ = '-';
    p = format_address(p, range.last);
    *p++ = '\n';
    out.commit(p);
}

template <class sink>
void write_cidr_lines_of(sink& out, std::span<const ip_range> ranges)
{
    for_each_cidr_block(ranges, [&out](std::uint32_t address, unsigned prefix_length) {
        char* p = out.reserve(most_cidr_line);
        p = format_address(p, address);
        *p++ = '/';
        p = format_small_number(p, prefix_length);
        *p++ = '\n';
        out.commit(p);
    });
}

} // namespace

const listing_format range_lines{
    most_range_line,
    [](std::span<const ip_range> ranges, char* text) {
        text_block into{text};
        for (const ip_range& range : ranges) write_range_line(into, range);
        return into.cursor;
    },
    [](output_stream& out, std::span<const ip_range> ranges) {
        for (const ip_range& range : ranges) write_range_line(out, range);
    },
};

const listing_format cidr_lines{
    most_cidr_lines,
    [](std::span<const ip_range> ranges, char* text) {
        text_block into{text};
        write_cidr_lines_of(into, ranges);
        return into.cursor;
    },
    [](output_stream& out, std::span<const ip_range> ranges) { write_cidr_lines_of(out, ranges); },
};

void range_list_write_ranges(output_stream& out, range_list& list) { range_lines.write_lines(out, range_list_view(list)); }

void range_list_write_cidr(output_stream& out, range_list& list) { cidr_lines.write_lines(out, range_list_view(list)); }

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
