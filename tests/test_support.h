#pragma once
#include <cstdint>
#include <cstddef>
#include <cstdio>
#include <ostream>
#include <string>
#include <string_view>
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

/// A parameterised test's name from its place in the table and its input: letters and digits
/// kept, every other run of bytes one "_", at most 40 characters, so that names read well and
/// stay the same from run to run.
inline std::string case_name(std::size_t index, std::string_view input)
{
    std::string name = std::to_string(index) + "_";
    for (char c : input) {
        if (name.size() >= 40) break;
        const bool word = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (word) name += c;
        else if (name.back() != '_') name += '_';
    }
    return name;
}

/// Names each case of a table by case_name over the given member.
template <auto member>
struct named_by {
    template <class info>
    std::string operator()(const info& test) const
    {
        return case_name(test.index, test.param.*member);
    }
};

/// Names each case of a table of texts by case_name.
struct named_by_text {
    template <class info>
    std::string operator()(const info& test) const
    {
        return case_name(test.index, test.param);
    }
};

} // namespace blockset::testing

namespace blockset {
inline void PrintTo(const ip_range& range, std::ostream* out)
{
    *out << range.first << "-" << range.last;
}
} // namespace blockset
