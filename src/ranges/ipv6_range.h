#pragma once
#include <bit>
#include <cstdint>

namespace blockset {

/// An IPv6 address as one unsigned 128-bit number, the first group of its text highest.
/// (__extension__: ISO C++ has no 128-bit integer, but gcc and clang give one on every
/// 64-bit target we build for, and plain arithmetic on it reads best.)
__extension__ typedef unsigned __int128 ipv6_address;

/// A closed range of IPv6 addresses, first <= last.
struct ipv6_range {
    ipv6_address first;
    ipv6_address last;
    friend bool operator==(const ipv6_range&, const ipv6_range&) = default;
};

/// Orders ranges by first address, as the lists and their sorts keep them.
struct ipv6_starts_before {
    bool operator()(const ipv6_range& a, const ipv6_range& b) const { return a.first < b.first; }
};

/// ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff, which has no successor.
constexpr ipv6_address ipv6_top_address = ~ipv6_address{0};

/// The address whose upper and lower 64 bits these are.
constexpr ipv6_address ipv6_from_halves(std::uint64_t high, std::uint64_t low)
{
    return ipv6_address{high} << 64 | low;
}

/// True when next, which starts at or after current's start, overlaps current or follows it
/// directly. A range ending at the top address has no successor and reaches every later one.
inline bool reaches(const ipv6_range& current, const ipv6_range& next)
{
    return current.last == ipv6_top_address || next.first <= current.last + 1;
}

// The block arithmetic of the CIDR walk, named as for IPv4 addresses.

/// Index of the highest one bit; 0 for the value 0.
inline unsigned highest_bit_index(ipv6_address value)
{
    auto high = static_cast<std::uint64_t>(value >> 64);
    auto low = static_cast<std::uint64_t>(value);
    if (high != 0) return 127 - static_cast<unsigned>(std::countl_zero(high));
    return low == 0 ? 0 : 63 - static_cast<unsigned>(std::countl_zero(low));
}

/// Shortest prefix length at which the address starts a block; 0 for ::.
inline unsigned alignment_prefix(ipv6_address address)
{
    auto high = static_cast<std::uint64_t>(address >> 64);
    auto low = static_cast<std::uint64_t>(address);
    if (low != 0) return 128 - static_cast<unsigned>(std::countr_zero(low));
    return high == 0 ? 0 : 64 - static_cast<unsigned>(std::countr_zero(high));
}

/// The host bits of a /prefix_length block (prefix_length from 0 to 128).
inline ipv6_address ipv6_host_mask(unsigned prefix_length)
{
    // A shift by 128 would be undefined: a /128 block has no host bits.
    return prefix_length == 128 ? 0 : ipv6_top_address >> prefix_length;
}

/// address OR the host mask of the prefix length: the last address of its block.
inline ipv6_address block_last_address(ipv6_address address, unsigned prefix_length)
{
    return address | ipv6_host_mask(prefix_length);
}

/// The first address of the /prefix_length block that holds address.
inline ipv6_address ipv6_block_first(ipv6_address address, unsigned prefix_length)
{
    return address & ~ipv6_host_mask(prefix_length);
}

} // namespace blockset
