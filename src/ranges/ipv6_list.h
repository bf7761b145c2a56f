#pragma once
#include <cstddef>
#include <span>
#include <vector>

#include "ranges/ipv6_allocator.h"
#include "ranges/ipv6_range.h"

namespace blockset {

/// The IPv6 addresses of a set: sorted, disjoint, non-adjacent ranges in one vector, whose
/// large blocks come in huge pages (ipv6_allocator).
/// Additions in ascending order extend or append at the tail; others wait in pending until
/// the next ipv6_list_view sorts and merges them in one pass. Copying copies the set.
struct ipv6_list {
    using storage = std::vector<ipv6_range, ipv6_allocator<ipv6_range>>;
    storage ranges;  ///< merged; read them through ipv6_list_view
    storage pending; ///< out-of-order additions, unsorted
};

/// Adds the range (one whose first address lies above its last adds nothing). Afterwards
/// ipv6_list_view shows the list sorted, disjoint and non-adjacent.
void ipv6_list_insert(ipv6_list& list, ipv6_range range);
/// Makes room for this many additions out of order, so that a large list read out of order
/// fills without growing; pages of the room never filled cost no memory. False, changing
/// nothing, when the system refuses that room: it is advice.
bool ipv6_list_reserve(ipv6_list& list, std::size_t additions);
/// Adds ranges that are sorted, disjoint and non-adjacent (as ipv6_ranges_merge_in_place
/// leaves them) in one pass over the list.
void ipv6_list_insert_sorted(ipv6_list& list, std::span<const ipv6_range> ranges);
/// Sorts the ranges (none reversed) by first address and merges those that overlap or touch,
/// in place; returns how many remain, sorted, disjoint and non-adjacent, at the start.
std::size_t ipv6_ranges_merge_in_place(std::span<ipv6_range> ranges);
/// The list's ranges, sorted, disjoint and non-adjacent, once pending additions are merged.
/// Valid until the list next changes.
std::span<const ipv6_range> ipv6_list_view(ipv6_list& list);
/// Empties the list.
void ipv6_list_clear(ipv6_list& list);

// Each operation empties the result first, then fills it in one ascending sweep. Operands may
// be the same list; the result must be distinct from every operand. Each returns the result.

/// result = a ∪ b
ipv6_list& ipv6_list_union(ipv6_list& a, ipv6_list& b, ipv6_list& result);
/// result = a ∩ b
ipv6_list& ipv6_list_intersection(ipv6_list& a, ipv6_list& b, ipv6_list& result);
/// result = a minus b
ipv6_list& ipv6_list_difference(ipv6_list& a, ipv6_list& b, ipv6_list& result);
/// result = every IPv6 address not in a
ipv6_list& ipv6_list_complement(ipv6_list& a, ipv6_list& result);

} // namespace blockset
