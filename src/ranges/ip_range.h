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

} // namespace blockset
