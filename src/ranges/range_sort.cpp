#include "ranges/range_sort.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "io/second_processor.h"
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
std::size_t scratch_part = std::size_t{1} << 22;

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

/// Sorting two blocks together: each range's group is the top 16 bits of its first address,
/// and runs of neighbouring groups form buckets of at most cached_bucket ranges where the
/// groups allow. The ranges are dealt straight into their buckets' places in the result, and
/// each bucket is sorted there in the cache; with a second processor, each step is shared.
constexpr int group_shift = 16;
constexpr std::size_t group_count = std::size_t{1} << (32 - group_shift);
constexpr std::size_t cached_bucket = scratch_ranges;

struct pair_sort {
    std::span<const ip_range> parts[2];
    ip_range* out = nullptr;
    /// Per group and part, how many ranges it holds; per group, its bucket.
    std::vector<std::uint32_t> group_sizes[2];
    std::vector<std::uint32_t> bucket_of;
    /// Per bucket and part, where the part's next range of the bucket goes.
    std::vector<std::size_t> next[2];
    /// Per bucket, where it starts in out (one more entry for the end), and the byte of the
    /// first address from which its ranges may differ.
    std::vector<std::size_t> bucket_start;
    std::vector<int> bucket_shift;
    /// Each processor sorts the buckets of a half: [halves[h], halves[h + 1]).
    std::size_t halves[3] = {};
    range_storage scratch[2];
    /// Where each half's merged ranges end.
    std::size_t ends[2] = {};

    void count(int part)
    {
        std::uint32_t* sizes = group_sizes[part].data();
        for (const ip_range& range : parts[part]) ++sizes[range.first >> group_shift];
    }

    void plan();

    void deal(int part)
    {
        const std::uint32_t* bucket = bucket_of.data();
        std::size_t* place = next[part].data();
        ip_range* to = out;
        for (const ip_range& range : parts[part]) to[place[bucket[range.first >> group_shift]]++] = range;
    }

    void finish(int half)
    {
        const std::size_t room = scratch[half].capacity();
        for (std::size_t bucket = halves[half]; bucket < halves[half + 1]; ++bucket) {
            std::size_t begin = bucket_start[bucket];
            sort_in_parts(out + begin, bucket_start[bucket + 1] - begin, bucket_shift[bucket], scratch[half].data(), room);
        }
        ends[half] = range_coalesce(out, bucket_start[halves[half]], bucket_start[halves[half + 1]]);
    }

    /// Runs step(0) here and step(1) on the second processor, or both here without one.
    template <auto step>
    void share()
    {
        second_processor helper;
        if (!helper.start([](void* sort) { (static_cast<pair_sort*>(sort)->*step)(1); }, this)) (this->*step)(1);
        (this->*step)(0);
    }
};

/// Forms the buckets from the groups' sizes, the places each part's ranges go, and the two
/// halves; and takes the scratch blocks, so that nothing on the second processor allocates.
void pair_sort::plan()
{
    bucket_of.resize(group_count);
    bucket_start.assign(1, 0);
    std::vector<std::size_t> group_first_of_bucket{0};
    // Where the bucket being formed starts, and its ranges so far: in all, and of the first part.
    std::size_t filled = 0;
    std::size_t first_part = 0;
    std::size_t total = 0;
    for (std::size_t group = 0; group < group_count; ++group) {
        std::size_t size = std::size_t{group_sizes[0][group]} + group_sizes[1][group];
        if (filled > 0 && filled + size > cached_bucket) {
            next[0].push_back(total - filled);
            next[1].push_back(total - filled + first_part);
            bucket_start.push_back(total);
            group_first_of_bucket.push_back(group);
            filled = first_part = 0;
        }
        bucket_of[group] = static_cast<std::uint32_t>(bucket_start.size() - 1);
        filled += size;
        first_part += group_sizes[0][group];
        total += size;
    }
    next[0].push_back(total - filled);
    next[1].push_back(total - filled + first_part);
    bucket_start.push_back(total);
    group_first_of_bucket.push_back(group_count);
    const std::size_t buckets = bucket_start.size() - 1;
    bucket_shift.assign(buckets, 0);
    std::size_t largest[2] = {0, 0};
    halves[0] = 0;
    halves[1] = buckets;
    halves[2] = buckets;
    for (std::size_t bucket = 0; bucket < buckets; ++bucket) {
        std::size_t begin = bucket_start[bucket];
        // The groups of a bucket share the bits above the highest one in which its first and
        // last group differ; within a single group, the top two bytes.
        auto low = static_cast<std::uint32_t>(group_first_of_bucket[bucket]);
        auto high = static_cast<std::uint32_t>(group_first_of_bucket[bucket + 1] - 1);
        bucket_shift[bucket] = low == high ? 8 : 8 * ((group_shift + 31 - __builtin_clz(low ^ high)) / 8);
        if (halves[1] == buckets && begin >= total / 2) halves[1] = bucket;
        std::size_t size = bucket_start[bucket + 1] - begin;
        int half = halves[1] == buckets ? 0 : 1;
        largest[half] = std::max(largest[half], size);
    }
    for (int half = 0; half < 2; ++half) {
        if (largest[half] > 0) scratch[half].grow(std::min(largest[half], scratch_part), 0, true);
    }
}

} // namespace

std::size_t range_sort_pair_into(std::span<const ip_range> first, std::span<const ip_range> second, ip_range* out)
{
    pair_sort sort;
    sort.parts[0] = first;
    sort.parts[1] = second;
    sort.out = out;
    sort.group_sizes[0].assign(group_count, 0);
    sort.group_sizes[1].assign(group_count, 0);
    sort.share<&pair_sort::count>();
    sort.plan();
    sort.share<&pair_sort::deal>();
    sort.share<&pair_sort::finish>();
    // The upper half's ranges move down to the lower half's end; those the lower half's last
    // range reaches merge into it first.
    std::size_t end = sort.ends[0];
    std::size_t from = sort.bucket_start[sort.halves[1]];
    while (from < sort.ends[1] && end > 0 && reaches(out[end - 1], out[from])) {
        out[end - 1].last = std::max(out[end - 1].last, out[from].last);
        ++from;
    }
    if (from != end) std::memmove(out + end, out + from, (sort.ends[1] - from) * sizeof(ip_range));
    return end + (sort.ends[1] - from);
}

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
        scratch.grow(room, 0, true);
        sort_in_parts(data, count, 24, scratch.data(), room);
        return;
    }
    std::size_t room = std::min(count, scratch_ranges);
    auto* scratch = static_cast<ip_range*>(std::malloc(room * sizeof(ip_range)));
    if (scratch == nullptr) throw std::bad_alloc();
    sort_in_parts(data, count, 24, scratch, room);
    std::free(scratch);
}

void range_sort_set_largest_scratch(std::size_t ranges) { scratch_part = ranges; }

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
