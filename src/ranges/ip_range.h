#pragma once
#include <cstdint>

namespace blockset {

/// A closed range of IPv4 addresses in host byte order, first <= last.
struct ip_range {
    std::uint32_t first;
    std::uint32_t last;
    friend bool operator==(const ip_range&, const ip_range&) = default;
};

constexpr std::uint32_t top_address = 0xFFFFFFFFu;

/// True when next, which starts at or after current's start, overlaps current or follows it
/// directly. A range ending at the top address has no successor and reaches every later one.
inline bool reaches(const ip_range& current, const ip_range& next)
{
    return current.last == top_address || next.first <= current.last + 1;
}

} // namespace blockset
