#include "ranges/range_sort.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "ranges/range_storage.h"

namespace blockset {

namespace {

/// Blocks of this many ranges and more are sorted through a scratch block of their size, or
/// of scratch_part ranges when they are larger; smaller ones through a block of
/// scratch_ranges.
constexpr std::size_t large_sort = std::size_t{1} << 17;

/// Parts of up to this many ranges, with their room in a scratch block, stay in the
/// processor's second-level cache while counting passes sort them.
constexpr std::size_t scratch_ranges = std::size_t{1} << 15;

/// Sorts here[0, count) by the bytes of the first address from the lowest up to the one at
/// shift, in stable counting passes between here and other, the part's room in the other
/// block; the result ends in here when end_here holds, in other otherwise.
void sort_cached_part(ip_range* here, ip_range* other, std::size_t count, int shift, bool end_here)
{
    constexpr std::size_t small_part = 64;
    if (count <= small_part) {
        ip_range* sorted = here;
        if (!end_here) sorted = std::copy(here, here + count, other) - count;
        std::sort(sorted, sorted + count, range_order);
        return;
    }
    int passes = shift / 8 + 1;
    std::size_t offsets[4][256] = {};
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t first = here[i].first;
        for (int pass = 0; pass < passes; ++pass) ++offsets[pass][(first >> (8 * pass)) & 0xFF];
    }
    for (int pass = 0; pass < passes; ++pass) {
        std::size_t sum = 0;
        for (std::size_t& start : offsets[pass]) sum += std::exchange(start, sum);
    }
    // Each pass moves the part to the other block; where the passes would end in the wrong
    // one, they start from a copy.
    ip_range* from = here;
    ip_range* to = other;
    if ((passes % 2 == 0) != end_here) {
        std::copy(here, here + count, other);
        std::swap(from, to);
    }
    for (int pass = 0; pass < passes; ++pass) {
        int byte_shift = 8 * pass;
        std::size_t* offset = offsets[pass];
        for (std::size_t i = 0; i < count; ++i) to[offset[(from[i].first >> byte_shift) & 0xFF]++] = from[i];
        std::swap(from, to);
    }
}

/// Counts data[0, count) by the byte of the first address at shift: start receives where
/// each of the 256 buckets starts once they are in order, end where it ends.
void count_buckets(const ip_range* data, std::size_t count, int shift, std::size_t (&start)[256], std::size_t (&end)[256])
{
    std::size_t sizes[256] = {};
    for (std::size_t i = 0; i < count; ++i) ++sizes[(data[i].first >> shift) & 0xFF];
    std::size_t sum = 0;
    for (int bucket = 0; bucket < 256; ++bucket) {
        start[bucket] = sum;
        sum += sizes[bucket];
        end[bucket] = sum;
    }
}

/// Deals a part in place into the 256 buckets of the byte of the first address at shift by
/// swapping every range into its bucket (an American flag sort); end receives the end of
/// each bucket.
void deal_into_buckets(ip_range* data, std::size_t count, int shift, std::size_t (&end)[256])
{
    auto digit = [shift](const ip_range& range) { return (range.first >> shift) & 0xFFu; };
    std::size_t next[256];
    count_buckets(data, count, shift, next, end);
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

/// Sorts here[0, count) by the bytes of the first address from the one at shift down, with
/// other, the part's room in the other block of the same size; the result ends in here when
/// end_here holds, in other otherwise. A part too large for the processor's caches is dealt
/// by the byte at shift into the other block, reading and writing in order, and each bucket
/// is sorted on from there by the next byte; a part that fits is finished by counting passes.
/// Ranges spread over the whole address space take two passes over memory where sorting
/// each top-byte bucket by counting passes took four.
void sort_part(ip_range* here, ip_range* other, std::size_t count, int shift, bool end_here)
{
    if (count <= scratch_ranges) {
        sort_cached_part(here, other, count, shift, end_here);
        return;
    }
    std::size_t offset[256];
    std::size_t end[256];
    count_buckets(here, count, shift, offset, end);
    for (std::size_t i = 0; i < count; ++i) other[offset[(here[i].first >> shift) & 0xFF]++] = here[i];
    if (shift == 0) {
        if (end_here) std::copy(other, other + count, here);
        return;
    }
    // The buckets are now in other, and sort on from there.
    std::size_t begin = 0;
    for (std::size_t bucket_end : end) {
        sort_part(other + begin, here + begin, bucket_end - begin, shift - 8, !end_here);
        begin = bucket_end;
    }
}

/// Large blocks are sorted through a scratch block of at most this many ranges; larger parts
/// are first dealt in place. Fresh memory is costly: every page of a scratch block as large
/// as the list would be cleared by the system, for ranges that have a place already.
constexpr std::size_t scratch_part = std::size_t{1} << 22;

/// Sorts data[0, count) by the bytes of the first address from the one at shift down. A part
/// larger than the scratch block (room ranges) is dealt in place into buckets by the byte at
/// shift, swapping every range into its bucket, and each bucket sorted on by the next byte; a
/// part that fits is sorted through the scratch block. Every step is linear, where a
/// comparison sort's n log n steps would dominate reading a large list given out of order.
void sort_in_parts(ip_range* data, std::size_t count, int shift, ip_range* scratch, std::size_t room)
{
    if (count <= room) {
        sort_part(data, scratch, count, shift, true);
        return;
    }
    std::size_t end[256];
    deal_into_buckets(data, count, shift, end);
    if (shift == 0) return;
    std::size_t begin = 0;
    for (std::size_t bucket_end : end) {
        sort_in_parts(data + begin, bucket_end - begin, shift - 8, scratch, room);
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
        // A mapped block, which the list may take over once the sort has given it back.
        range_storage scratch;
        std::size_t room = std::min(count, scratch_part);
        if (!scratch.grow(room, 0, true)) throw std::bad_alloc();
        sort_in_parts(data, count, 24, scratch.data(), room);
        return;
    }
    std::size_t room = std::min(count, scratch_ranges);
    auto* scratch = static_cast<ip_range*>(std::malloc(room * sizeof(ip_range)));
    if (scratch == nullptr) throw std::bad_alloc();
    sort_in_parts(data, count, 24, scratch, room);
    std::free(scratch);
}

std::size_t range_coalesce(ip_range* data, std::size_t begin, std::size_t end)
{
    std::size_t out = begin;
    for (std::size_t i = begin; i < end; ++i) out = extend_or_append(data + begin, out - begin, data[i]) + begin;
    return out;
}

} // namespace blockset
