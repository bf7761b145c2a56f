#pragma once
#include <algorithm>
#include <span>

#include "ranges/cidr.h"
#include "ranges/ipv6_range.h"

namespace blockset {

/// Calls block(address, prefix_length) for each of the fewest aligned CIDR blocks that cover
/// the ranges, in ascending order. The range type has members first and last of an unsigned
/// address type whose all-ones value is the top address, with highest_bit_index,
/// alignment_prefix and block_last_address declared for it.
template <class range, class on_block>
void for_each_cidr_block(std::span<const range> ranges, on_block block)
{
    using address = decltype(range::first);
    constexpr unsigned bits = sizeof(address) * 8;
    constexpr address top = static_cast<address>(~address{0});
    for (const range& item : ranges) {
        // The whole space is one block, and its size does not fit in an address.
        if (item.first == 0 && item.last == top) {
            block(address{0}, 0u);
            continue;
        }
        address start = item.first;
        for (;;) {
            // The largest block that starts at start and does not pass the range's end.
            unsigned size_prefix = bits - highest_bit_index(static_cast<address>(item.last - start + 1));
            unsigned prefix = std::max(size_prefix, alignment_prefix(start));
            block(start, prefix);
            address block_end = block_last_address(start, prefix);
            if (block_end >= item.last) break;
            start = block_end + 1;
        }
    }
}

} // namespace blockset
