#pragma once

namespace blockset {

class output_stream;
struct range_list;

/// One line "a.b.c.d-e.f.g.h" per range.
void range_list_write_ranges(output_stream& out, range_list& list);
/// The fewest aligned CIDR blocks, one "a.b.c.d/n" per line.
void range_list_write_cidr(output_stream& out, range_list& list);
/// One line "a.b.c.d" per address, every address of every range in ascending order.
void range_list_write_addresses(output_stream& out, range_list& list);

/// One line "RANGES BLOCKS ADDRESSES": the number of ranges, of the CIDR blocks that
/// range_list_write_cidr writes, and of addresses (the whole space is 4294967296).
void range_list_write_count(output_stream& out, range_list& list);

} // namespace blockset
