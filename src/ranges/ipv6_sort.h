#pragma once
#include <span>

#include "ranges/ipv6_range.h"

namespace blockset {

/// Sorts ranges by first address (ranges with the same first address in any order). Large
/// spans are sorted by radix, a byte of the address at a time from the highest that differs,
/// the others by comparison: both give the same order of first addresses.
void ipv6_ranges_sort(std::span<ipv6_range> ranges);
/// Sorts by comparison only: the plain twin of ipv6_ranges_sort.
void ipv6_ranges_sort_plain(std::span<ipv6_range> ranges);
/// How many times, in this run, ipv6_ranges_sort sorted by radix.
unsigned ipv6_radix_sort_count();

} // namespace blockset
