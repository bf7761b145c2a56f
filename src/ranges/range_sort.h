#pragma once
#include <cstddef>
#include <span>

#include "ranges/ip_range.h"

namespace blockset {

/// Ranges by first address, then last. A function object, so that the sort and merge
/// algorithms inline the comparison instead of calling through a pointer at every step.
constexpr auto range_order = [](const ip_range& a, const ip_range& b) {
    return a.first < b.first || (a.first == b.first && a.last < b.last);
};

/// Sorts ranges by their first address in linear time; ranges with equal first addresses
/// may end in any order. Throws std::bad_alloc when its scratch block cannot be had.
void range_sort_by_first(ip_range* data, std::size_t count);
/// Sorts the ranges of first and second together into dealt, which has room for both and
/// overlaps neither, and merges them into ascending, disjoint, non-adjacent ranges; returns
/// how many. over_parts, when not null, has room for both too and may hold the parts: where
/// most ranges lie in dense groups of addresses, the result goes there instead, and went_over
/// says so. Each part holds fewer than 2^32 ranges. The work is shared with the second
/// processor where there is one. Throws std::bad_alloc, both blocks untouched, when its
/// working memory cannot be had.
std::size_t range_sort_pair_into(std::span<const ip_range> first, std::span<const ip_range> second, ip_range* dealt,
                                 ip_range* over_parts, bool& went_over);
/// Sets the most ranges a large sort's scratch block holds (4Mi unless set; at least 1);
/// larger parts are dealt in place first. For tests, which reach that way with fewer ranges.
void range_sort_set_largest_scratch(std::size_t ranges);

/// Merges the ranges of data[begin, end), sorted by first address, in place into ascending,
/// disjoint and non-adjacent ranges; returns their new end.
std::size_t range_coalesce(ip_range* data, std::size_t begin, std::size_t end);

} // namespace blockset
