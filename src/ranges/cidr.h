#pragma once
#include <algorithm>
#include <cstdint>
#include <span>

#include "ranges/ip_range.h"

namespace blockset {

// The arithmetic of aligned CIDR blocks, inline for the listing's inner loop.

/// Entry n has the n highest bits set.
inline constexpr std::uint32_t mask_table[33] = {
    0x00000000u, 0x80000000u, 0xC0000000u, 0xE0000000u, 0xF0000000u, 0xF8000000u, 0xFC000000u,
    0xFE000000u, 0xFF000000u, 0xFF800000u, 0xFFC00000u, 0xFFE00000u, 0xFFF00000u, 0xFFF80000u,
    0xFFFC0000u, 0xFFFE0000u, 0xFFFF0000u, 0xFFFF8000u, 0xFFFFC000u, 0xFFFFE000u, 0xFFFFF000u,
    0xFFFFF800u, 0xFFFFFC00u, 0xFFFFFE00u, 0xFFFFFF00u, 0xFFFFFF80u, 0xFFFFFFC0u, 0xFFFFFFE0u,
    0xFFFFFFF0u, 0xFFFFFFF8u, 0xFFFFFFFCu, 0xFFFFFFFEu, 0xFFFFFFFFu,
};

/// address OR the host mask of the prefix length.
inline std::uint32_t block_last_address(std::uint32_t address, unsigned prefix_length)
{
    return address | ~mask_table[prefix_length];
}

/// Index of the highest one bit; 0 for the value 0.
inline unsigned highest_bit_index(std::uint32_t value)
{
    return value == 0 ? 0u : 31u - static_cast<unsigned>(__builtin_clz(value));
}

/// Shortest prefix length at which the address starts a block; 0 for 0.0.0.0.
inline unsigned alignment_prefix(std::uint32_t address)
{
    return address == 0 ? 0u : 32u - static_cast<unsigned>(__builtin_ctz(address));
}

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
