#include "ranges/range_sort.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "io/second_processor.h"
#include "ranges/page_storage.h"
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
/// groups allow. The ranges are dealt straight into their buckets' places in a block of their
/// own, and each bucket is sorted there in the cache; with a second processor, each step is
/// shared. A group of dense_group ranges or more is a bucket of its own whose ranges within
/// the group are painted into a bitmap of its addresses instead, and its runs of addresses
/// read off in order: an address set as dense as that costs a bit per address rather than a
/// dealt and sorted range, and its result can go straight to where it is wanted, even over
/// the parts themselves. Each part has bitmaps of its own, so that the processors never write
/// the same words.
constexpr int group_shift = 16;
constexpr std::size_t group_count = std::size_t{1} << (32 - group_shift);
constexpr std::size_t cached_bucket = scratch_ranges;
constexpr std::size_t dense_group = std::size_t{1} << 13;
constexpr std::size_t group_words = (std::size_t{1} << group_shift) / 64;
/// Ranges of a dense group this long and longer are dealt and sorted like the ranges that run
/// on past it: painting costs a word per 64 addresses, and a list of many long ranges would
/// otherwise cost that many times over.
constexpr std::uint32_t longest_painted = 512;

/// Sets the bits of words, a group's bitmap, for the addresses low to high within the group.
void paint(std::uint64_t* words, std::uint32_t low, std::uint32_t high)
{
    constexpr std::uint64_t all = ~std::uint64_t{0};
    const std::uint32_t first_word = low / 64;
    const std::uint32_t last_word = high / 64;
    const std::uint64_t from_low = all << (low % 64);
    const std::uint64_t to_high = all >> (63 - high % 64);
    if (first_word == last_word) {
        words[first_word] |= from_low & to_high;
        return;
    }
    words[first_word] |= from_low;
    for (std::uint32_t word = first_word + 1; word < last_word; ++word) words[word] = all;
    words[last_word] |= to_high;
}

/// Appends ranges in order of first address to out from end on, merging each into the last
/// one written when it reaches it: out[begin, end) stays in invariant form.
struct coalescing_writer {
    ip_range* out;
    std::size_t begin;
    std::size_t end;

    void add(ip_range range)
    {
        if (end > begin && reaches(out[end - 1], range)) {
            out[end - 1].last = std::max(out[end - 1].last, range.last);
        } else {
            out[end++] = range;
        }
    }

    /// add() for each of from[0, count), in order; from may lie in out at end or past it.
    void add_all(const ip_range* from, std::size_t count)
    {
        std::size_t at = end;
        for (std::size_t i = 0; i < count; ++i) {
            if (at > begin && reaches(out[at - 1], from[i])) {
                out[at - 1].last = std::max(out[at - 1].last, from[i].last);
            } else {
                out[at++] = from[i];
            }
        }
        end = at;
    }
};

/// Writes the runs of addresses set in group's bitmaps, one per part, merged with
/// crossing[0, count), ranges that start in the group, sorted by first address.
void write_runs(coalescing_writer& writer, std::uint32_t group, const std::uint64_t* first_part,
                const std::uint64_t* second_part, const ip_range* crossing, std::size_t count)
{
    const ip_range* const crossing_end = crossing + count;
    auto write = [&](std::uint32_t first, std::uint32_t last) {
        while (crossing != crossing_end && crossing->first < first) writer.add(*crossing++);
        writer.add(ip_range{first, last});
    };
    const std::uint32_t base = group << group_shift;
    // A run that goes on past the end of a word ends in a later one.
    bool open = false;
    std::uint32_t open_first = 0;
    std::uint64_t carry = 0;
    for (std::size_t word = 0; word < group_words; ++word) {
        const std::uint64_t bits = first_part[word] | second_part[word];
        if (bits == 0) {
            carry = 0;
            continue;
        }
        const std::uint64_t next_low = word + 1 < group_words ? (first_part[word + 1] | second_part[word + 1]) & 1 : 0;
        // The first and the last address of each run in this word.
        std::uint64_t starts = bits & ~((bits << 1) | carry);
        std::uint64_t ends = bits & ~((bits >> 1) | (next_low << 63));
        carry = bits >> 63;
        const auto at = base + static_cast<std::uint32_t>(word * 64);
        if (open) {
            if (ends == 0) continue;
            write(open_first, at + static_cast<std::uint32_t>(__builtin_ctzll(ends)));
            ends &= ends - 1;
            open = false;
        }
        while (starts != 0) {
            const auto first = at + static_cast<std::uint32_t>(__builtin_ctzll(starts));
            starts &= starts - 1;
            if (ends == 0) {
                open_first = first;
                open = true;
                break;
            }
            write(first, at + static_cast<std::uint32_t>(__builtin_ctzll(ends)));
            ends &= ends - 1;
        }
    }
    while (crossing != crossing_end) writer.add(*crossing++);
}

/// The bitmaps of the dense groups in one block of huge pages where the system has them:
/// painting touches every one of their words, in no order.
class bitmap_block {
public:
    bitmap_block() = default;
    ~bitmap_block()
    {
        if (words_ != nullptr) page_block_unmap(words_, bytes_);
    }
    bitmap_block(const bitmap_block&) = delete;
    bitmap_block& operator=(const bitmap_block&) = delete;

    /// Maps room for count words, zero-filled; throws std::bad_alloc when the system refuses.
    void map(std::size_t count)
    {
        bytes_ = count * sizeof(std::uint64_t);
        bytes_ = page_round_up(bytes_, bytes_ >= huge_page ? huge_page : small_page);
        words_ = static_cast<std::uint64_t*>(page_block_map(bytes_));
        if (words_ == nullptr) throw std::bad_alloc();
        if (bytes_ >= huge_page) page_block_prefer_huge_pages(words_, bytes_);
    }
    std::uint64_t* words() const { return words_; }

private:
    std::uint64_t* words_ = nullptr;
    std::size_t bytes_ = 0;
};

struct pair_sort {
    std::span<const ip_range> parts[2];
    /// Where the ranges are dealt and sorted, and where the result goes: the same block, or
    /// two, when the result may go over the parts.
    ip_range* dealt = nullptr;
    ip_range* out = nullptr;
    /// Per group and part, how many ranges it holds; per group, its bucket, and its bitmaps'
    /// number plus one when it is dense, 0 otherwise.
    std::vector<std::uint32_t> group_sizes[2];
    std::vector<std::uint32_t> bucket_of;
    std::vector<std::uint32_t> dense_of;
    /// The bitmaps of the dense groups, group_words each: the first part's, then the second's.
    bitmap_block bitmaps;
    std::size_t dense_groups = 0;
    std::size_t dense_ranges = 0;
    /// Per bucket and part, where the part's next range of the bucket goes.
    std::vector<std::size_t> next[2];
    /// Per bucket, where it starts (one more entry for the end), the byte of the first address
    /// from which its ranges may differ, and its group plus one when it is dense, 0 otherwise.
    std::vector<std::size_t> bucket_start;
    std::vector<int> bucket_shift;
    std::vector<std::uint32_t> bucket_dense;
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

    void deal(int which)
    {
        if (dense_ranges == 0) {
            deal_part(which);
        } else {
            paint_part(which);
        }
    }

    /// Deals a part's ranges into their buckets.
    void deal_part(int part)
    {
        const std::uint32_t* bucket = bucket_of.data();
        std::size_t* place = next[part].data();
        ip_range* to = dealt;
        for (const ip_range& range : parts[part]) to[place[bucket[range.first >> group_shift]]++] = range;
    }

    /// Paints a part's short ranges within dense groups into the part's bitmaps, and deals its
    /// other ranges into their buckets. Each bitmap word is fetched well before it is painted:
    /// the bitmaps are too many for the cache, and each range's word is one in no order.
    void paint_part(int part)
    {
        const std::uint32_t* bucket = bucket_of.data();
        const std::uint32_t* dense = dense_of.data();
        std::uint64_t* const words = bitmaps.words() + static_cast<std::size_t>(part) * dense_groups * group_words;
        std::size_t* place = next[part].data();
        constexpr std::uint32_t low_bits = (std::uint32_t{1} << group_shift) - 1;
        constexpr std::size_t ahead = 128;
        const ip_range* const ranges = parts[part].data();
        const std::size_t count = parts[part].size();
        ip_range* to = dealt;
        for (std::size_t i = 0; i < count; ++i) {
            if (i + ahead < count) {
                const std::uint32_t later = ranges[i + ahead].first;
                // A range of a group that is not dense fetches a word of the first bitmap.
                const std::size_t later_bitmap = dense[later >> group_shift];
                const std::size_t later_word = (later_bitmap - (later_bitmap != 0)) * group_words + (later & low_bits) / 64;
                __builtin_prefetch(words + later_word, 1);
            }
            const ip_range range = ranges[i];
            const std::uint32_t group = range.first >> group_shift;
            const std::uint32_t bitmap = dense[group];
            if (bitmap != 0 && range.last - range.first < longest_painted && range.last >> group_shift == group) {
                paint(words + (bitmap - 1) * group_words, range.first & low_bits, range.last & low_bits);
            } else {
                to[place[bucket[group]]++] = range;
            }
        }
    }

    void finish(int half)
    {
        const std::size_t room = scratch[half].capacity();
        coalescing_writer writer{out, bucket_start[halves[half]], bucket_start[halves[half]]};
        for (std::size_t bucket = halves[half]; bucket < halves[half + 1]; ++bucket) {
            const std::size_t begin = bucket_start[bucket];
            const std::size_t end = bucket_start[bucket + 1];
            if (bucket_dense[bucket] != 0) {
                finish_dense(writer, bucket, half);
                continue;
            }
            sort_in_parts(dealt + begin, end - begin, bucket_shift[bucket], scratch[half].data(), room);
            // Where the result is the block dealt into, it is written no further than read.
            writer.add_all(dealt + begin, end - begin);
        }
        ends[half] = writer.end;
    }

    /// The ranges of a dense group that were dealt, long ones and those that run on past it,
    /// move to the end of its bucket: its runs, written from the bucket's start at the latest,
    /// then never reach the ranges not yet read, since they are no more than the ranges painted.
    void finish_dense(coalescing_writer& writer, std::size_t bucket, int half)
    {
        const std::uint32_t group = bucket_dense[bucket] - 1;
        const std::size_t begin = bucket_start[bucket];
        const std::size_t end = bucket_start[bucket + 1];
        // The group is the bucket's only one with ranges: the second part's follow the first's.
        const std::size_t second_begin = begin + group_sizes[0][group];
        const std::size_t first_dealt = next[0][bucket] - begin;
        const std::size_t second_dealt = next[1][bucket] - second_begin;
        const std::size_t crossing = first_dealt + second_dealt;
        ip_range* kept = dealt + end - crossing;
        std::memmove(dealt + end - second_dealt, dealt + second_begin, second_dealt * sizeof(ip_range));
        std::memmove(kept, dealt + begin, first_dealt * sizeof(ip_range));
        // They all start in the group: only the two low bytes differ.
        sort_in_parts(kept, crossing, 8, scratch[half].data(), scratch[half].capacity());
        const std::uint64_t* words = bitmaps.words() + (dense_of[group] - 1) * group_words;
        write_runs(writer, group, words, words + dense_groups * group_words, kept, crossing);
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
/// halves; and takes the bitmaps and the scratch blocks, so that nothing on the second
/// processor allocates.
void pair_sort::plan()
{
    bucket_of.resize(group_count);
    dense_of.assign(group_count, 0);
    bucket_start.assign(1, 0);
    bucket_dense.clear();
    std::vector<std::size_t> group_first_of_bucket{0};
    // Where the bucket being formed starts, and its ranges so far: in all, and of the first part.
    std::size_t filled = 0;
    std::size_t first_part = 0;
    std::size_t total = 0;
    // The dense group of the bucket being formed plus one, or 0.
    std::uint32_t forming_dense = 0;
    auto close_bucket = [&](std::size_t group) {
        next[0].push_back(total - filled);
        next[1].push_back(total - filled + first_part);
        bucket_start.push_back(total);
        bucket_dense.push_back(forming_dense);
        group_first_of_bucket.push_back(group);
        filled = first_part = 0;
    };
    for (std::size_t group = 0; group < group_count; ++group) {
        std::size_t size = std::size_t{group_sizes[0][group]} + group_sizes[1][group];
        const bool dense = size >= dense_group;
        if (filled > 0 && (filled + size > cached_bucket || dense || forming_dense != 0)) close_bucket(group);
        forming_dense = dense ? static_cast<std::uint32_t>(group) + 1 : 0;
        if (dense) {
            dense_of[group] = static_cast<std::uint32_t>(++dense_groups);
            dense_ranges += size;
        }
        bucket_of[group] = static_cast<std::uint32_t>(bucket_start.size() - 1);
        filled += size;
        first_part += group_sizes[0][group];
        total += size;
    }
    close_bucket(group_count);
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
    if (dense_groups > 0) bitmaps.map(2 * dense_groups * group_words);
    for (int half = 0; half < 2; ++half) {
        if (largest[half] > 0) scratch[half].grow(std::min(largest[half], scratch_part), 0, true);
    }
}

} // namespace

std::size_t range_sort_pair_into(std::span<const ip_range> first, std::span<const ip_range> second, ip_range* dealt,
                                 ip_range* over_parts, bool& went_over)
{
    pair_sort sort;
    sort.parts[0] = first;
    sort.parts[1] = second;
    sort.dealt = sort.out = dealt;
    sort.group_sizes[0].assign(group_count, 0);
    sort.group_sizes[1].assign(group_count, 0);
    sort.share<&pair_sort::count>();
    sort.plan();
    // Mostly dense groups reach the result without passing through the dealt block, so the
    // result goes over the parts where it may; the rest is then copied once more.
    const std::size_t total = first.size() + second.size();
    went_over = over_parts != nullptr && sort.dense_ranges >= total / 2;
    if (went_over) sort.out = over_parts;
    sort.share<&pair_sort::deal>();
    sort.share<&pair_sort::finish>();
    // The upper half's ranges move down to the lower half's end; those the lower half's last
    // range reaches merge into it first.
    ip_range* out = sort.out;
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
