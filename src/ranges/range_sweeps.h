#pragma once
#include <algorithm>
#include <cstddef>
#include <span>

namespace blockset {

// The four set operations as ascending sweeps over lists of one address family, each list
// sorted, disjoint and non-adjacent. A range type has members first and last of an unsigned
// address type whose all-ones value is the top address. Each sweep hands its result's ranges
// to add in ascending order of first address; add extends the result's last range when the
// new one touches it, or appends. Time is linear in the operands' sizes.

/// Hands over a ∪ b.
template <class range, class adder>
void sweep_union(std::span<const range> a, std::span<const range> b, adder add)
{
    std::size_t i = 0, j = 0;
    while (i < a.size() || j < b.size()) {
        if (j == b.size() || (i < a.size() && a[i].first <= b[j].first)) {
            add(a[i++]);
        } else {
            add(b[j++]);
        }
    }
}

/// Hands over a ∩ b.
template <class range, class adder>
void sweep_intersection(std::span<const range> a, std::span<const range> b, adder add)
{
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const range& x = a[i];
        const range& y = b[j];
        if (x.last < y.first) {
            ++i;
        } else if (y.last < x.first) {
            ++j;
        } else {
            add(range{std::max(x.first, y.first), std::min(x.last, y.last)});
            if (x.last <= y.last) ++i;
            if (y.last <= x.last) ++j;
        }
    }
}

/// Hands over a minus b.
template <class range, class adder>
void sweep_difference(std::span<const range> a, std::span<const range> b, adder add)
{
    // The cursor on b never moves back: a range of b that reaches past one range of a may
    // still cut into the next.
    std::size_t j = 0;
    for (const range& node : a) {
        range rest = node;
        for (;;) {
            while (j < b.size() && b[j].last < rest.first) ++j;
            if (j == b.size() || rest.last < b[j].first) {
                add(rest);
                break;
            }
            const range& cut = b[j];
            if (rest.first < cut.first) add(range{rest.first, cut.first - 1});
            if (rest.last <= cut.last) break;
            // rest ends above cut, so cut.last is below the top address and has a successor.
            rest.first = cut.last + 1;
            ++j;
        }
    }
}

/// Hands over every address not in a.
template <class range, class adder>
void sweep_complement(std::span<const range> a, adder add)
{
    using address = decltype(range::first);
    constexpr address top = static_cast<address>(~address{0});
    if (a.empty()) {
        add(range{0, top});
        return;
    }
    if (a.front().first > 0) add(range{0, a.front().first - 1});
    // Neighbouring ranges are never adjacent, so every gap between them holds an address.
    for (std::size_t i = 1; i < a.size(); ++i) add(range{a[i - 1].last + 1, a[i].first - 1});
    if (a.back().last < top) add(range{a.back().last + 1, top});
}

} // namespace blockset
