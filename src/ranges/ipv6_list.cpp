#include "ranges/ipv6_list.h"

#include <algorithm>
#include <cstdint>

#include "ranges/ipv6_sort.h"
#include "ranges/range_sweeps.h"

namespace blockset {

namespace {

/// Pending additions wait for the first read, unless they fill their vector at this many or
/// more and twice the merged ranges: then they merge rather than grow it, so memory stays
/// bounded by the distinct ranges (or the room reserved), not by the additions, while each
/// range is merged only a few times however the additions come.
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

/// Merges sorted ranges that overlap or touch in place, the write cursor never passing the
/// read one; returns how many remain at the start.
std::size_t coalesce(std::span<ipv6_range> ranges)
{
    std::size_t kept = 0;
    for (const ipv6_range& range : ranges) {
        if (kept != 0 && reaches(ranges[kept - 1], range)) {
            ranges[kept - 1].last = std::max(ranges[kept - 1].last, range.last);
        } else {
            ranges[kept++] = range;
        }
    }
    return kept;
}

/// Merges a sorted run into the sorted ranges in their own vector: grown by the run's length,
/// it fills from the back with the later of the two last ranges, then coalesces.
void merge_run(ipv6_list::storage& ranges, std::span<const ipv6_range> run)
{
    std::size_t kept = ranges.size();
    std::size_t added = run.size();
    ranges.resize(kept + added);
    for (std::size_t at = kept + added; added != 0;) {
        if (kept != 0 && ipv6_starts_before{}(run[added - 1], ranges[kept - 1])) {
            ranges[--at] = ranges[--kept];
        } else {
            ranges[--at] = run[--added];
        }
    }
    ranges.resize(coalesce(ranges));
}

/// Sorts the pending additions and merges them with the merged ranges.
void merge_pending(ipv6_list& list)
{
    ipv6_list::storage& pending = list.pending;
    if (list.ranges.size() <= pending.size() / 16) {
        // Few merged ranges (the rising tail of shuffled additions): they are sorted along,
        // and the pending vector becomes the list's.
        pending.insert(pending.end(), list.ranges.begin(), list.ranges.end());
        pending.resize(ipv6_ranges_merge_in_place(pending));
        std::swap(list.ranges, pending);
    } else {
        pending.resize(ipv6_ranges_merge_in_place(pending));
        merge_run(list.ranges, pending);
    }
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
    if (waiting == list.pending.capacity() && waiting >= pending_batch && waiting >= 2 * list.ranges.size()) {
        merge_pending(list);
    }
}

std::size_t ipv6_ranges_merge_in_place(std::span<ipv6_range> ranges)
{
    if (!std::is_sorted(ranges.begin(), ranges.end(), ipv6_starts_before{})) ipv6_ranges_sort(ranges);
    return coalesce(ranges);
}

void ipv6_list_insert_sorted(ipv6_list& list, std::span<const ipv6_range> ranges)
{
    if (ranges.empty()) return;
    if (!list.pending.empty()) merge_pending(list);
    if (list.ranges.empty() || list.ranges.back().first <= ranges.front().first) {
        for (const ipv6_range& range : ranges) extend_or_append(list.ranges, range);
    } else {
        merge_run(list.ranges, ranges);
    }
}

bool ipv6_list_reserve(ipv6_list& list, std::size_t additions)
{
    // A vector that cannot grow throws; room that cannot be had is declined before.
    if (additions <= list.pending.capacity()) return true;
    if (additions > SIZE_MAX / sizeof(ipv6_range) || !ipv6_block_available(additions * sizeof(ipv6_range))) return false;
    list.pending.reserve(additions);
    return true;
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
