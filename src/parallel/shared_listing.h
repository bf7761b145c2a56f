#pragma once

namespace blockset {

class output_stream;
struct range_list;

/// Both write the list's lines byte for byte as range_list_write_cidr and
/// range_list_write_ranges do. A long listing is shared with a second processor where one and
/// the memory can be had: the listing is cut into slices, the main thread writes every other
/// slice itself, and the second processor formats the slices between into memory meanwhile,
/// which the main thread then writes out in their turn.
void write_cidr_listing(output_stream& out, range_list& list);
void write_range_listing(output_stream& out, range_list& list);

/// How many slices of listings, in this run, a second processor formatted.
unsigned shared_listing_slices();

} // namespace blockset
