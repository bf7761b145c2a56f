#pragma once
#include <cstddef>
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

/// Adds range, which starts at or after the start of data[count - 1] when count > 0, to the
/// ascending, disjoint, non-adjacent ranges data[0, count): it extends the last one where it
/// reaches it, else it goes after it, where data has room. Returns the new count.
inline std::size_t extend_or_append(ip_range* data, std::size_t count, ip_range range)
{
    if (count > 0 && reaches(data[count - 1], range)) {
        if (range.last > data[count - 1].last) data[count - 1].last = range.last;
        return count;
    }
    data[count] = range;
    return count + 1;
}

} // namespace blockset
