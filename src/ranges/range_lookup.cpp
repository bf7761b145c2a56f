#include "ranges/range_lookup.h"

#include <bit>

namespace blockset {

namespace {
/// Slices: about one per range, from 2^8 to 2^22 (16 MiB of index at most).
constexpr unsigned fewest_slice_bits = 8;
constexpr unsigned most_slice_bits = 22;

/// How many lookups ahead the slice, then the range, of a later address is fetched: enough
/// to keep a dozen misses on the way at once.
constexpr std::size_t lookups_ahead = 8;
} // namespace

range_index range_index_build(std::span<const ip_range> ranges)
{
    range_index index;
    index.ranges = ranges;
    unsigned bits = static_cast<unsigned>(std::bit_width(ranges.size()));
    bits = std::clamp(bits, fewest_slice_bits, most_slice_bits);
    index.shift = 32 - bits;
    const std::size_t slices = std::size_t{1} << bits;
    index.first.reserve(slices + 1);
    std::size_t next = 0;
    for (std::size_t slice = 0; slice < slices; ++slice) {
        // The first range whose last address reaches the slice's start.
        const std::uint64_t slice_start = static_cast<std::uint64_t>(slice) << index.shift;
        while (next < ranges.size() && ranges[next].last < slice_start) ++next;
        index.first.push_back(static_cast<std::uint32_t>(next));
    }
    index.first.push_back(static_cast<std::uint32_t>(ranges.size()));
    return index;
}

void range_index_holds_each(const range_index& index, std::span<const std::uint32_t> addresses, std::span<bool> held)
{
    const std::size_t count = addresses.size();
    const std::size_t ranges = index.ranges.size();
    for (std::size_t i = 0; i < count; ++i) {
        // Two lookups ahead in two steps: the slice's entry first, and once that has arrived,
        // the range a search of the slice looks at first.
        if (i + 2 * lookups_ahead < count) __builtin_prefetch(&index.first[addresses[i + 2 * lookups_ahead] >> index.shift]);
        if (i + lookups_ahead < count && ranges > 0) {
            const std::size_t slice = addresses[i + lookups_ahead] >> index.shift;
            const std::size_t begin = index.first[slice];
            const std::size_t end = std::min<std::size_t>(index.first[slice + 1] + std::size_t{1}, ranges);
            __builtin_prefetch(index.ranges.data() + std::min(begin + (end - begin) / 2, ranges - 1));
        }
        held[i] = range_index_holds(index, addresses[i]);
    }
}

} // namespace blockset
