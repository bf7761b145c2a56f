#pragma once
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <span>
#include <vector>

#include "ranges/ip_range.h"
#include "ranges/ipv6_range.h"

namespace blockset {

// Whether a set holds one address, asked of the merged ranges that range_list_view and
// ipv6_list_view give.

/// True when one of the ranges (ascending, disjoint) holds the address: one binary search.
inline bool ranges_hold(std::span<const ip_range> ranges, std::uint32_t address)
{
    // The first range that starts above the address; the one before it is the only candidate.
    auto after = std::upper_bound(ranges.begin(), ranges.end(), address,
                                  [](std::uint32_t value, const ip_range& range) { return value < range.first; });
    return after != ranges.begin() && address <= std::prev(after)->last;
}

/// The same for IPv6 ranges.
inline bool ranges_hold(std::span<const ipv6_range> ranges, ipv6_address address)
{
    auto after = std::upper_bound(ranges.begin(), ranges.end(), address,
                                  [](ipv6_address value, const ipv6_range& range) { return value < range.first; });
    return after != ranges.begin() && address <= std::prev(after)->last;
}

/// Many lookups in one large list: the address space cut into equal slices, about one per
/// range, each knowing the first range that ends in or after it, so that a lookup searches
/// only the few ranges that meet the address's slice, not the whole list. The index takes
/// four bytes a slice and lasts as long as the ranges it was built from.
struct range_index {
    std::span<const ip_range> ranges;
    unsigned shift = 24;                ///< an address's slice is address >> shift
    std::vector<std::uint32_t> first;   ///< per slice, and one past the last
};

/// Builds the index of the ranges (ascending, disjoint) in one pass.
range_index range_index_build(std::span<const ip_range> ranges);

/// The answer of ranges_hold(index.ranges, address).
inline bool range_index_holds(const range_index& index, std::uint32_t address)
{
    const std::size_t slice = address >> index.shift;
    // The range that holds the address ends in its slice or later, so it is not before
    // first[slice]; and it starts at or before the address, so not after first[slice + 1],
    // the first range reaching past the slice.
    const std::size_t begin = index.first[slice];
    const std::size_t end = std::min<std::size_t>(index.first[slice + 1] + std::size_t{1}, index.ranges.size());
    return ranges_hold(index.ranges.subspan(begin, end - begin), address);
}

/// held[i] = range_index_holds(index, addresses[i]) for each i: the same answers, with the
/// memory of later lookups fetched while earlier ones are answered, which a large list
/// needs, as its lookups wait on memory one after another otherwise. held has the size of
/// addresses.
void range_index_holds_each(const range_index& index, std::span<const std::uint32_t> addresses, std::span<bool> held);

} // namespace blockset
