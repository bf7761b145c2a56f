#include "ranges/ipv6_list.h"

#include <algorithm>

#include "ranges/range_sweeps.h"

namespace blockset {

namespace {

/// Pending additions wait for the first read, unless they reach this many and twice the merged
/// ranges: then they merge, so memory stays bounded by the distinct ranges, not by the
/// additions, while each range is merged only a few times however the additions come.
constexpr std::size_t pending_batch = std::size_t{1} << 20;

/// Extends the last range when range reaches it, or appends range. Range starts at or after
/// the last one's start.
void extend_or_append(ipv6_list::storage& ranges, const ipv6_range& range)
{
    if (!ranges.empty() && reaches(ranges.back(), range)) {
        ranges.back().last = std::max(ranges.back().last, range.last);
    } else {
        ranges.push_back(range);
    }
}

/// Sorts the pending additions and merges them with the merged ranges in one forward pass
/// into a new vector, coalescing as it goes, so no range is copied twice.
void merge_pending(ipv6_list& list)
{
    auto starts_before = [](const ipv6_range& a, const ipv6_range& b) { return a.first < b.first; };
    ipv6_list::storage& pending = list.pending;
    if (list.ranges.size() <= pending.size() / 16) {
        // Few merged ranges (the rising tail of shuffled additions): sort them along, then
        // coalesce in place, the write cursor never passing the read one.
        pending.insert(pending.end(), list.ranges.begin(), list.ranges.end());
        std::sort(pending.begin(), pending.end(), starts_before);
        std::swap(list.ranges, pending);
        pending.clear();
        std::size_t kept = 0;
        for (const ipv6_range& range : list.ranges) {
            if (kept != 0 && reaches(list.ranges[kept - 1], range)) {
                list.ranges[kept - 1].last = std::max(list.ranges[kept - 1].last, range.last);
            } else {
                list.ranges[kept++] = range;
            }
        }
        list.ranges.resize(kept);
        return;
    }
    std::sort(pending.begin(), pending.end(), starts_before);
    ipv6_list::storage merged;
    merged.reserve(list.ranges.size() + pending.size());
    auto old = list.ranges.cbegin(), old_end = list.ranges.cend();
    auto added = pending.cbegin(), added_end = pending.cend();
    while (old != old_end && added != added_end) {
        bool take_old = !starts_before(*added, *old);
        extend_or_append(merged, take_old ? *old++ : *added++);
    }
    for (; old != old_end; ++old) extend_or_append(merged, *old);
    for (; added != added_end; ++added) extend_or_append(merged, *added);
    list.ranges = std::move(merged);
    pending.clear();
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
    const std::size_t waiting = list.pending.size();
    if (waiting >= pending_batch && waiting >= 2 * list.ranges.size()) merge_pending(list);
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
