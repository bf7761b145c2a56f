#include "ranges/ipv6_sort.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <utility>

namespace blockset {

namespace {

/// From this many ranges up the radix sort pays: a byte's counting and moving costs two
/// passes, against a comparison sort's log2(n) (measured on shuffled published-style lists:
/// about half the time from 100k ranges up).
constexpr std::size_t radix_smallest = 4096;
/// Parts of this many ranges or fewer are sorted by insertion.
constexpr std::size_t insertion_largest = 48;

std::atomic<unsigned> radix_sorts{0};

void insertion_sort(std::span<ipv6_range> ranges)
{
    for (std::size_t i = 1; i < ranges.size(); ++i) {
        const ipv6_range moved = ranges[i];
        std::size_t at = i;
        for (; at > 0 && moved.first < ranges[at - 1].first; --at) ranges[at] = ranges[at - 1];
        ranges[at] = moved;
    }
}

/// The byte of a first address that a pass sorts by.
unsigned digit(const ipv6_range& range, unsigned shift) { return static_cast<unsigned>(range.first >> shift) & 0xFF; }

/// Where each of the 256 parts starts, and the end of the last.
using part_starts = std::array<std::size_t, 257>;

/// Moves each range into the part of its digit, in place: each range is taken from where it
/// lies, swapped into the next free place of its part, and the range found there moves on,
/// until the range that belongs in the first place is found.
void partition(std::span<ipv6_range> ranges, unsigned shift, const part_starts& starts)
{
    std::array<std::size_t, 256> next{};
    std::copy(starts.begin(), starts.end() - 1, next.begin());
    for (unsigned part = 0; part < 256; ++part) {
        while (next[part] < starts[part + 1]) {
            ipv6_range moving = ranges[next[part]];
            for (unsigned d = digit(moving, shift); d != part; d = digit(moving, shift)) {
                std::swap(moving, ranges[next[d]++]);
            }
            ranges[next[part]++] = moving;
        }
    }
}

/// Sorts by the byte that holds the highest bit in which first addresses differ, then each
/// part by the bits below; the bits above are the same in every range.
void radix_sort(std::span<ipv6_range> ranges)
{
    if (ranges.size() <= insertion_largest) {
        insertion_sort(ranges);
        return;
    }
    ipv6_address differ = 0;
    for (const ipv6_range& range : ranges) differ |= range.first ^ ranges[0].first;
    if (differ == 0) return;
    const unsigned high = highest_bit_index(differ);
    const unsigned shift = high >= 7 ? high - 7 : 0;
    part_starts starts{};
    for (const ipv6_range& range : ranges) ++starts[digit(range, shift) + 1];
    for (std::size_t part = 0; part < 256; ++part) starts[part + 1] += starts[part];
    partition(ranges, shift, starts);
    if (shift == 0) return;
    for (std::size_t part = 0; part < 256; ++part) radix_sort(ranges.subspan(starts[part], starts[part + 1] - starts[part]));
}

} // namespace

void ipv6_ranges_sort(std::span<ipv6_range> ranges)
{
    if (ranges.size() < radix_smallest) {
        ipv6_ranges_sort_plain(ranges);
        return;
    }
    radix_sort(ranges);
    radix_sorts.fetch_add(1, std::memory_order_relaxed);
}

void ipv6_ranges_sort_plain(std::span<ipv6_range> ranges) { std::sort(ranges.begin(), ranges.end(), ipv6_starts_before{}); }

unsigned ipv6_radix_sort_count() { return radix_sorts.load(std::memory_order_relaxed); }

} // namespace blockset
