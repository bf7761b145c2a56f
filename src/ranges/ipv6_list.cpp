#include "ranges/ipv6_list.h"

#include <algorithm>

#include "ranges/range_sweeps.h"

namespace blockset {

namespace {

/// Pending additions merge once they outnumber both the merged ranges and this many, so
/// memory stays bounded by the distinct ranges, not by the additions.
constexpr std::size_t pending_batch = 1 << 16;

/// Extends the last range when range reaches it, or appends range. Range starts at or after
/// the last one's start.
void extend_or_append(std::vector<ipv6_range>& ranges, const ipv6_range& range)
{
    if (!ranges.empty() && reaches(ranges.back(), range)) {
        ranges.back().last = std::max(ranges.back().last, range.last);
    } else {
        ranges.push_back(range);
    }
}

/// Sorts the pending additions into the merged ranges in one pass, in place: the merge
/// fills the grown vector from its end, where it never overwrites a range not yet taken.
void merge_pending(ipv6_list& list)
{
    auto starts_before = [](const ipv6_range& a, const ipv6_range& b) { return a.first < b.first; };
    std::vector<ipv6_range>& ranges = list.ranges;
    std::vector<ipv6_range>& pending = list.pending;
    std::sort(pending.begin(), pending.end(), starts_before);
    std::size_t merged = ranges.size(), waiting = pending.size();
    ranges.resize(merged + waiting);
    for (std::size_t to = ranges.size(); waiting != 0;) {
        if (merged != 0 && starts_before(pending[waiting - 1], ranges[merged - 1])) {
            ranges[--to] = ranges[--merged];
        } else {
            ranges[--to] = pending[--waiting];
        }
    }
    pending.clear();
    // Coalesce in place: the write cursor never passes the read cursor.
    std::size_t kept = 0;
    for (const ipv6_range& range : ranges) {
        if (kept != 0 && reaches(ranges[kept - 1], range)) {
            ranges[kept - 1].last = std::max(ranges[kept - 1].last, range.last);
        } else {
            ranges[kept++] = range;
        }
    }
    ranges.resize(kept);
}

/// Runs a sweep into result, which it empties first, once the operands are merged.
template <class sweep>
ipv6_list& fill(ipv6_list& result, sweep run)
{
    ipv6_list_clear(result);
    run([&result](const ipv6_range& range) { extend_or_append(result.ranges, range); });
    return result;
}

} // namespace

void ipv6_list_insert(ipv6_list& list, ipv6_range range)
{
    if (range.first > range.last) return;
    if (list.ranges.empty() || list.ranges.back().first <= range.first) {
        extend_or_append(list.ranges, range);
        return;
    }
    list.pending.push_back(range);
    if (list.pending.size() > std::max(list.ranges.size(), pending_batch)) merge_pending(list);
}

std::span<const ipv6_range> ipv6_list_view(ipv6_list& list)
{
    if (!list.pending.empty()) merge_pending(list);
    return list.ranges;
}

void ipv6_list_clear(ipv6_list& list)
{
    list.ranges.clear();
    list.pending.clear();
}

ipv6_list& ipv6_list_union(ipv6_list& a, ipv6_list& b, ipv6_list& result)
{
    auto left = ipv6_list_view(a);
    auto right = ipv6_list_view(b);
    return fill(result, [&](auto add) { sweep_union(left, right, add); });
}

ipv6_list& ipv6_list_intersection(ipv6_list& a, ipv6_list& b, ipv6_list& result)
{
    auto left = ipv6_list_view(a);
    auto right = ipv6_list_view(b);
    return fill(result, [&](auto add) { sweep_intersection(left, right, add); });
}

ipv6_list& ipv6_list_difference(ipv6_list& a, ipv6_list& b, ipv6_list& result)
{
    auto left = ipv6_list_view(a);
    auto right = ipv6_list_view(b);
    return fill(result, [&](auto add) { sweep_difference(left, right, add); });
}

ipv6_list& ipv6_list_complement(ipv6_list& a, ipv6_list& result)
{
    auto ranges = ipv6_list_view(a);
    return fill(result, [&](auto add) { sweep_complement(ranges, add); });
}

} // namespace blockset
