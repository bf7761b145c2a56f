#pragma once
#include <cstddef>
#include <span>

#include "ranges/ip_range.h"

namespace blockset {

class output_stream;
struct range_list;

/// One line "a.b.c.d-e.f.g.h" per range.
void range_list_write_ranges(output_stream& out, range_list& list);
/// The fewest aligned CIDR blocks, one "a.b.c.d/n" per line.
void range_list_write_cidr(output_stream& out, range_list& list);
/// The two listings that may be formatted in slices: a range's lines take at most
/// most_bytes; lines_into formats the lines of ranges into text, which has room for
/// most_bytes per range, and returns where they end; write_lines writes them to out.
/// range_list_write_ranges and range_list_write_cidr write a whole list's lines that way.
struct listing_format {
    std::size_t most_bytes;
    char* (*lines_into)(std::span<const ip_range> ranges, char* text);
    void (*write_lines)(output_stream& out, std::span<const ip_range> ranges);
};
extern const listing_format range_lines;
extern const listing_format cidr_lines;

/// One line "a.b.c.d" per address, every address of every range in ascending order.
void range_list_write_addresses(output_stream& out, range_list& list);

/// One line "RANGES BLOCKS ADDRESSES": the number of ranges, of the CIDR blocks that
/// range_list_write_cidr writes, and of addresses (the whole space is 4294967296).
void range_list_write_count(output_stream& out, range_list& list);

} // namespace blockset
