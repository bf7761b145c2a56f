#pragma once
#include <cstdint>

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

} // namespace blockset
