#include "ranges/range_sort.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>

#include "ranges/range_storage.h"

namespace blockset {

namespace {

/// Blocks of this many ranges and more are sorted through a scratch block of their size.
constexpr std::size_t large_sort = std::size_t{1} << 17;

/// Ranges a part must be down to before it is sorted through the scratch block.
constexpr std::size_t scratch_ranges = std::size_t{1} << 15;

/// Sorts a part that fits the scratch block, small enough to stay in the processor's caches,
/// by stable counting passes over the bytes of the first address from the lowest up to the
/// one at shift, between the part and the block.
void sort_through_scratch(ip_range* data, std::size_t count, int shift, ip_range* scratch)
{
    int passes = shift / 8 + 1;
    // Passes alternate direction; an odd count starts from a copy, so that the last one
    // writes into data.
    ip_range* from = data;
    ip_range* to = scratch;
    if (passes % 2 == 1) {
        std::copy(data, data + count, scratch);
        std::swap(from, to);
    }
    for (int pass = 0; pass < passes; ++pass) {
        int byte_shift = 8 * pass;
        std::size_t offset[256] = {};
        for (std::size_t i = 0; i < count; ++i) ++offset[(from[i].first >> byte_shift) & 0xFF];
        std::size_t sum = 0;
        for (std::size_t& start : offset) sum += std::exchange(start, sum);
        for (std::size_t i = 0; i < count; ++i) to[offset[(from[i].first >> byte_shift) & 0xFF]++] = from[i];
        std::swap(from, to);
    }
}

/// Deals a part in place into the 256 buckets of the byte of the first address at shift by
/// swapping every range into its bucket (an American flag sort); end receives the end of
/// each bucket.
void deal_into_buckets(ip_range* data, std::size_t count, int shift, std::size_t (&end)[256])
{
    auto digit = [shift](const ip_range& range) { return (range.first >> shift) & 0xFFu; };
    std::size_t next[256] = {};
    for (std::size_t i = 0; i < count; ++i) ++next[digit(data[i])];
    std::size_t sum = 0;
    for (int bucket = 0; bucket < 256; ++bucket) {
        sum += next[bucket];
        next[bucket] = sum - next[bucket];
        end[bucket] = sum;
    }
    for (unsigned bucket = 0; bucket < 256; ++bucket) {
        while (next[bucket] < end[bucket]) {
            ip_range moving = data[next[bucket]];
            // Swap the range into its own bucket until one that belongs here comes back.
            for (unsigned own = digit(moving); own != bucket; own = digit(moving)) {
                // Each bucket fills front to back: fetching ahead keeps the chain of swaps,
                // each waiting for the one before, from waiting on memory as well.
                constexpr std::size_t ahead = 16;
                if (next[own] + ahead < count) __builtin_prefetch(data + next[own] + ahead, 1);
                std::swap(moving, data[next[own]++]);
            }
            data[next[bucket]++] = moving;
        }
    }
}

/// Sorts ranges by the bytes of their first address from the one at shift down. A large
/// part is dealt into buckets and each bucket sorted on the next byte; a part that fits the
/// scratch block is finished through it. Every step is linear, where a comparison sort's
/// n log n steps would dominate reading a large list given out of order, and no copy of the
/// whole list is needed.
void sort_by_bytes(ip_range* data, std::size_t count, int shift, ip_range* scratch)
{
    constexpr std::size_t small_part = 64;
    if (count <= small_part) {
        std::sort(data, data + count, range_order);
        return;
    }
    if (count <= scratch_ranges) {
        sort_through_scratch(data, count, shift, scratch);
        return;
    }
    std::size_t end[256];
    deal_into_buckets(data, count, shift, end);
    if (shift == 0) return;
    std::size_t begin = 0;
    for (std::size_t bucket_end : end) {
        sort_by_bytes(data + begin, bucket_end - begin, shift - 8, scratch);
        begin = bucket_end;
    }
}

/// Sorts from[0, count) by the three low bytes of the first address into to[0, count), in
/// three stable counting passes between the two.
void sort_low_bytes(ip_range* from, ip_range* to, std::size_t count)
{
    constexpr std::size_t small_part = 64;
    if (count <= small_part) {
        std::copy(from, from + count, to);
        std::sort(to, to + count, range_order);
        return;
    }
    std::size_t offsets[3][256] = {};
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t first = from[i].first;
        ++offsets[0][first & 0xFF];
        ++offsets[1][(first >> 8) & 0xFF];
        ++offsets[2][(first >> 16) & 0xFF];
    }
    for (auto& offset : offsets) {
        std::size_t sum = 0;
        for (std::size_t& start : offset) sum += std::exchange(start, sum);
    }
    ip_range* source = from;
    ip_range* target = to;
    for (int pass = 0; pass < 3; ++pass) {
        int shift = 8 * pass;
        std::size_t* offset = offsets[pass];
        for (std::size_t i = 0; i < count; ++i) target[offset[(source[i].first >> shift) & 0xFF]++] = source[i];
        std::swap(source, target);
    }
}

/// Sorts a large block: dealt by the top byte into a scratch block of its size, then each
/// part sorted back by the other three bytes. Each step reads and writes in order, where
/// dealing in place swaps ranges all over a block far larger than the processor's caches.
void sort_large(ip_range* data, std::size_t count)
{
    range_storage scratch;
    scratch.grow(count, 0, true);
    ip_range* dealt = scratch.data();
    std::size_t offset[256] = {};
    for (std::size_t i = 0; i < count; ++i) ++offset[data[i].first >> 24];
    std::size_t end[256];
    std::size_t sum = 0;
    for (int bucket = 0; bucket < 256; ++bucket) {
        sum += offset[bucket];
        offset[bucket] = sum - offset[bucket];
        end[bucket] = sum;
    }
    for (std::size_t i = 0; i < count; ++i) dealt[offset[data[i].first >> 24]++] = data[i];
    std::size_t begin = 0;
    for (std::size_t bucket_end : end) {
        sort_low_bytes(dealt + begin, data + begin, bucket_end - begin);
        begin = bucket_end;
    }
}

} // namespace

void range_sort_by_first(ip_range* data, std::size_t count)
{
    // Input given in order (a common case for lists mostly in order) costs one pass.
    std::size_t ordered = 1;
    while (ordered < count && data[ordered - 1].first <= data[ordered].first) ++ordered;
    if (ordered >= count) return;
    if (count >= large_sort) {
        sort_large(data, count);
        return;
    }
    std::size_t room = std::min(count, scratch_ranges);
    auto* scratch = static_cast<ip_range*>(std::malloc(room * sizeof(ip_range)));
    if (scratch == nullptr) throw std::bad_alloc();
    sort_by_bytes(data, count, 24, scratch);
    std::free(scratch);
}

std::size_t range_coalesce(ip_range* data, std::size_t begin, std::size_t end)
{
    if (begin == end) return end;
    std::size_t out = begin;
    for (std::size_t i = begin + 1; i < end; ++i) {
        if (reaches(data[out], data[i])) {
            data[out].last = std::max(data[out].last, data[i].last);
        } else {
            data[++out] = data[i];
        }
    }
    return out + 1;
}

} // namespace blockset
