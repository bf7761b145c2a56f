#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "ranges/address_count.h"
#include "ranges/ip_range.h"
#include "ranges/ipv6_range.h"

namespace blockset {

/// What N lists of one family hold, alone and together.
struct list_comparison {
    std::vector<std::uint64_t> ranges;        ///< per list: its ranges
    std::vector<std::uint64_t> blocks;        ///< per list: the CIDR blocks that cover it
    std::vector<address_count> addresses;     ///< per list: its addresses
    std::vector<address_count> only_here;     ///< per list: its addresses that no other list holds
    std::vector<address_count> common;        ///< lists x lists, row by row: the addresses two lists share
    std::uint64_t union_ranges = 0;           ///< of the union of all lists
    std::uint64_t union_blocks = 0;
    address_count union_addresses;

    /// The addresses list i shares with list j (list i's own addresses when i == j).
    const address_count& shared(std::size_t i, std::size_t j) const { return common[i * ranges.size() + j]; }
};

/// Compares lists, each sorted, disjoint and non-adjacent, in one sweep over all of them at
/// once: time O(R log N + R K) for R ranges in all, N lists and at most K lists over one
/// address, memory O(N^2).
list_comparison compare_ipv4_lists(std::span<const std::span<const ip_range>> lists);
list_comparison compare_ipv6_lists(std::span<const std::span<const ipv6_range>> lists);

} // namespace blockset
