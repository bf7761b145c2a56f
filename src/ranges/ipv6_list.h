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
