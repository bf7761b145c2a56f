#pragma once
#include <algorithm>
#include <cstdint>
#include <span>

#include "ranges/ip_range.h"
#include "ranges/range_list.h"

namespace blockset {

/// Calls block(address, prefix_length) for each of the fewest aligned CIDR blocks that cover
/// the list, in ascending order.
template <typename on_block>
void for_each_cidr_block(std::span<const ip_range> ranges, on_block block)
{
    for (const ip_range& range : ranges) {
        // The whole space is one block, and its size does not fit in 32 bits.
        if (range.first == 0 && range.last == top_address) {
            block(0, 0);
            continue;
        }
        std::uint32_t start = range.first;
        for (;;) {
            // The largest block that starts at start and does not pass the range's end.
            unsigned size_prefix = 32 - highest_bit_index(range.last - start + 1);
            unsigned prefix = std::max(size_prefix, alignment_prefix(start));
            block(start, prefix);
            std::uint32_t block_end = block_last_address(start, prefix);
            if (block_end >= range.last) break;
            start = block_end + 1;
        }
    }
}

} // namespace blockset
