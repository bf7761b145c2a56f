#pragma once
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "ranges/range_list.h"

namespace blockset::testing {

/// Parses "a.b.c.d" (test input only; no checks).
inline std::uint32_t ip(const char* text)
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    std::sscanf(text, "%u.%u.%u.%u", &a, &b, &c, &d);
    return (a << 24) | (b << 16) | (c << 8) | d;
}

inline std::vector<ip_range> ranges_of(range_list& list)
{
    auto view = range_list_view(list);
    return {view.begin(), view.end()};
}

inline range_list list_of(std::initializer_list<ip_range> ranges)
{
    range_list list;
    for (const ip_range& range : ranges) range_list_insert(list, range);
    return list;
}

} // namespace blockset::testing

namespace blockset {
inline void PrintTo(const ip_range& range, std::ostream* out)
{
    *out << range.first << "-" << range.last;
}
} // namespace blockset
