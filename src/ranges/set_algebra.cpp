#include "ranges/set_algebra.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "ranges/range_list.h"
#include "ranges/range_sweeps.h"

namespace blockset {

// Every sweep reads its operands through range_list_view, which merges their pending
// additions, before it empties the result, and hands the result its ranges in ascending order
// of first address, so each insertion extends or appends at the tail. The result's room is
// reserved for the most ranges the sweep can hand over. When both operands are one list, the
// second view finds nothing left to merge and the first stays valid.

namespace {

/// An operand this many times smaller than the other is placed by binary search.
constexpr std::size_t small_operand_ratio = 16;

/// The union of a large list with one far smaller: the large list's ranges go over in blocks,
/// each up to the place of the next small range, found by binary search. Time is the small
/// list's size times the log of the large one's, plus a copy of the large one.
void union_with_small(std::span<const ip_range> large, std::span<const ip_range> small, range_list& result)
{
    auto starts_before = [](const ip_range& range, std::uint32_t first) { return range.first < first; };
    std::size_t copied = 0;
    for (const ip_range& range : small) {
        auto place = std::lower_bound(large.begin() + static_cast<std::ptrdiff_t>(copied), large.end(), range.first,
                                      starts_before);
        auto before = static_cast<std::size_t>(place - large.begin());
        range_list_insert_sorted(result, large.subspan(copied, before - copied));
        range_list_insert(result, range);
        copied = before;
    }
    range_list_insert_sorted(result, large.subspan(copied));
}

/// The index of the first range from index from on that ends at or after address.
std::size_t first_ending_from(std::span<const ip_range> ranges, std::size_t from, std::uint32_t address)
{
    auto ends_before = [](const ip_range& range, std::uint32_t at) { return range.last < at; };
    auto found = std::lower_bound(ranges.begin() + static_cast<std::ptrdiff_t>(from), ranges.end(), address,
                                  ends_before);
    return static_cast<std::size_t>(found - ranges.begin());
}

/// The intersection of a large list with one far smaller: binary search finds, for each small
/// range, the large ranges it overlaps; those that lie inside it go over as one block, and
/// only the two at its ends are cut.
void intersection_with_small(std::span<const ip_range> large, std::span<const ip_range> small, range_list& result)
{
    std::size_t from = 0;
    for (const ip_range& range : small) {
        from = first_ending_from(large, from, range.first);
        // large[from, end) end inside the range; large[end] may reach past its end, and
        // into the next small range too.
        std::size_t end = first_ending_from(large, from, range.last);
        if (from < end) {
            range_list_insert(result, ip_range{std::max(large[from].first, range.first), large[from].last});
            range_list_insert_sorted(result, large.subspan(from + 1, end - from - 1));
        }
        if (end < large.size() && large[end].first <= range.last) {
            range_list_insert(result, ip_range{std::max(large[end].first, range.first), range.last});
        }
        from = end;
    }
}

/// The difference sweep. With search, the cursor on right moves on by binary search, for a
/// left operand far smaller than the right one.
void difference_sweep(std::span<const ip_range> left, std::span<const ip_range> right, bool search,
                      range_list& result)
{
    // The cursor on right never moves back: a range of right that reaches past one range of
    // left may still cut into the next.
    std::size_t j = 0;
    for (const ip_range& node : left) {
        ip_range rest = node;
        for (;;) {
            if (search) {
                j = first_ending_from(right, j, rest.first);
            } else {
                while (j < right.size() && right[j].last < rest.first) ++j;
            }
            if (j == right.size()) {
                range_list_insert(result, rest);
                break;
            }
            const ip_range& cut = right[j];
            if (rest.first < cut.first) {
                if (rest.last < cut.first) {
                    range_list_insert(result, rest);
                    break;
                }
                range_list_insert(result, ip_range{rest.first, cut.first - 1});
            }
            if (rest.last <= cut.last) break;
            // rest ends above cut, so cut.last is below the top address and has a successor.
            rest.first = cut.last + 1;
            ++j;
        }
    }
}

/// The sweeps' way of handing a range to the result.
auto insert_into(range_list& result)
{
    return [&result](const ip_range& range) { range_list_insert(result, range); };
}

using small_operation = void (*)(std::span<const ip_range> large, std::span<const ip_range> small, range_list& result);

/// Runs the small-operand form of a symmetric operation when one operand is far smaller than
/// the other; false, doing nothing, when neither is.
bool run_with_small(std::span<const ip_range> left, std::span<const ip_range> right, small_operation operation,
                    range_list& result)
{
    if (right.size() * small_operand_ratio < left.size()) {
        operation(left, right, result);
        return true;
    }
    if (left.size() * small_operand_ratio < right.size()) {
        operation(right, left, result);
        return true;
    }
    return false;
}

} // namespace

range_list& range_list_union(range_list& a, range_list& b, range_list& result)
{
    std::span<const ip_range> left = range_list_view(a);
    std::span<const ip_range> right = range_list_view(b);
    range_list_clear(result);
    range_list_reserve(result, left.size() + right.size());
    if (!run_with_small(left, right, union_with_small, result)) sweep_union(left, right, insert_into(result));
    return result;
}

range_list& range_list_intersection(range_list& a, range_list& b, range_list& result)
{
    std::span<const ip_range> left = range_list_view(a);
    std::span<const ip_range> right = range_list_view(b);
    range_list_clear(result);
    // Every step moves on in at least one operand and hands over at most one range.
    range_list_reserve(result, left.size() + right.size());
    if (!run_with_small(left, right, intersection_with_small, result)) {
        sweep_intersection(left, right, insert_into(result));
    }
    return result;
}

range_list& range_list_difference(range_list& a, range_list& b, range_list& result)
{
    std::span<const ip_range> left = range_list_view(a);
    std::span<const ip_range> right = range_list_view(b);
    range_list_clear(result);
    // Each range handed over ends a range of a or is cut off by a range of b.
    range_list_reserve(result, left.size() + right.size());
    if (right.size() * small_operand_ratio < left.size()) {
        // a minus a few ranges: a within the few gaps between them.
        range_list gaps;
        range_list_complement(b, gaps);
        intersection_with_small(left, range_list_view(gaps), result);
        return result;
    }
    difference_sweep(left, right, left.size() * small_operand_ratio < right.size(), result);
    return result;
}

range_list& range_list_complement(range_list& a, range_list& result)
{
    std::span<const ip_range> ranges = range_list_view(a);
    range_list_clear(result);
    range_list_reserve(result, ranges.size() + 1);
    sweep_complement(ranges, insert_into(result));
    return result;
}

} // namespace blockset
