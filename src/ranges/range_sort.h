#pragma once
#include <cstddef>

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
/// Merges the ranges of data[begin, end), sorted by first address, in place into ascending,
/// disjoint and non-adjacent ranges; returns their new end.
std::size_t range_coalesce(ip_range* data, std::size_t begin, std::size_t end);

} // namespace blockset
