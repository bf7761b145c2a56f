#include "ranges/range_list.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "io/output_stream.h"
#include "ranges/address_format.h"
#include "ranges/page_storage.h"

namespace blockset {

const std::uint32_t mask_table[33] = {
    0x00000000u, 0x80000000u, 0xC0000000u, 0xE0000000u, 0xF0000000u, 0xF8000000u, 0xFC000000u,
    0xFE000000u, 0xFF000000u, 0xFF800000u, 0xFFC00000u, 0xFFE00000u, 0xFFF00000u, 0xFFF80000u,
    0xFFFC0000u, 0xFFFE0000u, 0xFFFF0000u, 0xFFFF8000u, 0xFFFFC000u, 0xFFFFE000u, 0xFFFFF000u,
    0xFFFFF800u, 0xFFFFFC00u, 0xFFFFFE00u, 0xFFFFFF00u, 0xFFFFFF80u, 0xFFFFFFC0u, 0xFFFFFFE0u,
    0xFFFFFFF0u, 0xFFFFFFF8u, 0xFFFFFFFCu, 0xFFFFFFFEu, 0xFFFFFFFFu,
};

namespace {

/// Ranges by first address, then last. A function object, so that the sort and merge
/// algorithms inline the comparison instead of calling through a pointer at every step.
constexpr auto range_order = [](const ip_range& a, const ip_range& b) {
    return a.first < b.first || (a.first == b.first && a.last < b.last);
};

/// True when next, which starts at or after current's start, overlaps current or follows it
/// directly. A range ending at the top address has no successor and reaches every later one.
bool reaches(const ip_range& current, const ip_range& next)
{
    return current.last == top_address || next.first <= current.last + 1;
}

// Storage from 256 KiB up is mapped straight from the system, so that it grows by moving
// its pages to a larger block rather than by copying them. Blocks of 2 MiB and more start at
// a boundary of the 2 MiB pages of transparent huge page support, and a list growing by
// insertion has the new part of its block advised to use them: filling it then takes one
// page fault per 2 MiB instead of one per 4 KiB, and page faults are a large part of the
// cost of reading a big list. A huge page is resident as a whole once touched, so the part
// of the last one past the list's end is given back when a reader has finished the list.
constexpr std::size_t mapped_threshold = std::size_t{1} << 18;

std::size_t round_up(std::size_t bytes, std::size_t unit) { return (bytes + unit - 1) & ~(unit - 1); }

std::size_t storage_bytes(std::size_t capacity) { return capacity * sizeof(ip_range); }

bool is_mapped_storage(std::size_t capacity) { return storage_bytes(capacity) >= mapped_threshold; }

void release_storage(ip_range* data, std::size_t capacity)
{
    if (is_mapped_storage(capacity)) {
        page_block_unmap(data, storage_bytes(capacity));
    } else {
        std::free(data);
    }
}

/// Gives the list room for capacity ranges (at least its current capacity), keeping its
/// ranges; huge asks for huge pages in the new part of a mapped block.
void grow_storage(range_list& list, std::size_t capacity, bool huge)
{
    if (!is_mapped_storage(capacity)) {
        void* grown = std::realloc(list.data, storage_bytes(capacity));
        if (grown == nullptr) throw std::bad_alloc();
        list.data = static_cast<ip_range*>(grown);
        list.capacity = capacity;
        return;
    }
    std::size_t bytes = storage_bytes(capacity);
    bytes = round_up(bytes, bytes >= huge_page ? huge_page : small_page);
    auto* grown = static_cast<char*>(page_block_map(bytes));
    if (grown == nullptr) throw std::bad_alloc();
    std::size_t held = storage_bytes(list.capacity);
    if (huge && bytes >= huge_page) page_block_prefer_huge_pages(grown + held, bytes - held);
    if (is_mapped_storage(list.capacity)) {
        if (!page_block_move(list.data, held, grown)) {
            page_block_unmap(grown, bytes);
            throw std::bad_alloc();
        }
    } else if (list.data != nullptr) {
        std::memcpy(grown, list.data, storage_bytes(list.size));
        std::free(list.data);
    }
    list.data = reinterpret_cast<ip_range*>(grown);
    list.capacity = bytes / sizeof(ip_range);
}

/// Room for one more range as a list grows by insertion: the capacity doubles.
void reserve_storage(range_list& list, std::size_t wanted)
{
    if (wanted <= list.capacity) return;
    grow_storage(list, std::max<std::size_t>(wanted, list.capacity < 8 ? 8 : list.capacity * 2), true);
}

/// Merges sorted data[begin, end) in place into invariant form; returns the new end.
std::size_t coalesce(ip_range* data, std::size_t begin, std::size_t end)
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

/// Ranges a part must be down to before it is sorted through the scratch block.
constexpr std::size_t scratch_ranges = std::size_t{1} << 15;

/// Sorts ranges by the bytes of their first address from the one at shift down. A large part
/// is dealt in place into the 256 buckets of its byte by swapping every range into its bucket
/// (an American flag sort), and each bucket is sorted on the next byte. A part that fits the
/// scratch block, small enough to stay in the processor's caches, is finished by stable
/// counting passes over its remaining bytes between the part and the block. Every step is
/// linear, where a comparison sort's n log n steps would dominate reading a large list given
/// out of order, and no copy of the whole list is needed.
void sort_by_bytes(ip_range* data, std::size_t count, int shift, ip_range* scratch)
{
    constexpr std::size_t small_part = 64;
    if (count <= small_part) {
        std::sort(data, data + count, range_order);
        return;
    }
    if (count <= scratch_ranges) {
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
            for (int digit = 0; digit < 256; ++digit) sum += std::exchange(offset[digit], sum);
            for (std::size_t i = 0; i < count; ++i) to[offset[(from[i].first >> byte_shift) & 0xFF]++] = from[i];
            std::swap(from, to);
        }
        return;
    }
    auto digit = [shift](const ip_range& range) { return (range.first >> shift) & 0xFFu; };
    std::size_t next[256] = {};
    for (std::size_t i = 0; i < count; ++i) ++next[digit(data[i])];
    std::size_t end[256];
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
    if (shift == 0) return;
    std::size_t begin = 0;
    for (int bucket = 0; bucket < 256; ++bucket) {
        sort_by_bytes(data + begin, end[bucket] - begin, shift - 8, scratch);
        begin = end[bucket];
    }
}

/// Sorts ranges by their first address; ranges with equal first addresses may end in any
/// order, which coalescing does not mind.
void sort_by_first(ip_range* data, std::size_t count)
{
    // Input given in order (a common case for lists mostly in order) costs one pass.
    std::size_t ordered = 1;
    while (ordered < count && data[ordered - 1].first <= data[ordered].first) ++ordered;
    if (ordered >= count) return;
    std::size_t room = std::min(count, scratch_ranges);
    auto* scratch = static_cast<ip_range*>(std::malloc(room * sizeof(ip_range)));
    if (scratch == nullptr) throw std::bad_alloc();
    sort_by_bytes(data, count, 24, scratch);
    std::free(scratch);
}

/// Sorts the pending additions and merges them into the invariant part.
void merge_pending(const range_list& list)
{
    ip_range* data = list.data;
    std::size_t merged = list.merged;
    std::size_t size = list.size;
    if (merged * 8 <= size - merged) {
        // Many additions to a short list: sorting the whole costs little more than sorting
        // the additions, and saves merging the two parts.
        sort_by_first(data, size);
    } else {
        sort_by_first(data + merged, size - merged);
        size = coalesce(data, merged, size);
        // The merge buffers the smaller of the two parts: few additions to a long list cost
        // little memory.
        if (size > merged && range_order(data[merged], data[merged - 1])) {
            std::inplace_merge(data, data + merged, data + size, range_order);
        }
    }
    list.size = coalesce(data, 0, size);
    list.merged = list.size;
}

} // namespace

range_list::range_list(range_list&& other) noexcept
    : data(std::exchange(other.data, nullptr)), size(std::exchange(other.size, 0)),
      merged(std::exchange(other.merged, 0)), capacity(std::exchange(other.capacity, 0))
{
}

range_list& range_list::operator=(range_list&& other) noexcept
{
    if (this != &other) {
        release_storage(data, capacity);
        data = std::exchange(other.data, nullptr);
        size = std::exchange(other.size, 0);
        merged = std::exchange(other.merged, 0);
        capacity = std::exchange(other.capacity, 0);
    }
    return *this;
}

range_list::~range_list() { release_storage(data, capacity); }

void range_list_init(range_list& list) { range_list_clear(list); }

void range_list_clear(range_list& list)
{
    release_storage(list.data, list.capacity);
    list.data = nullptr;
    list.size = list.merged = list.capacity = 0;
}

void range_list_insert(range_list& list, ip_range range)
{
    if (range.first > range.last) return;
    if (list.merged == list.size && list.size > 0) {
        ip_range& tail = list.data[list.size - 1];
        if (range.first >= tail.first) {
            if (reaches(tail, range)) {
                if (range.last > tail.last) tail.last = range.last;
                return;
            }
            if (list.size == list.capacity) reserve_storage(list, list.size + 1);
            list.data[list.size++] = range;
            list.merged = list.size;
            return;
        }
        // A range that starts a little before the last node (a list in order but for an
        // overlap with the lines just before) is merged in place among the last few nodes,
        // keeping the list in invariant form instead of sending it to the sorting path.
        constexpr std::size_t nearby_nodes = 8;
        ip_range* data = list.data;
        std::size_t size = list.size;
        // Nodes [0, k) end well before the range; nodes [k, m) are reached by it.
        std::size_t k = size;
        while (k > 0 && size - k < nearby_nodes && (range.first == 0 || data[k - 1].last >= range.first - 1)) --k;
        if (k == 0 || (range.first != 0 && data[k - 1].last < range.first - 1)) {
            std::size_t m = k;
            while (m < size && (range.last == top_address || data[m].first <= range.last + 1)) ++m;
            ip_range joined = range;
            if (m > k) {
                joined.first = std::min(range.first, data[k].first);
                joined.last = std::max(range.last, data[m - 1].last);
            }
            if (m == k) {
                if (size == list.capacity) reserve_storage(list, size + 1);
                data = list.data;
                std::memmove(data + k + 1, data + k, (size - k) * sizeof(ip_range));
                ++size;
            } else {
                std::memmove(data + k + 1, data + m, (size - m) * sizeof(ip_range));
                size -= m - k - 1;
            }
            data[k] = joined;
            list.size = list.merged = size;
            return;
        }
    }
    if (list.size == list.capacity) reserve_storage(list, list.size + 1);
    list.data[list.size++] = range;
    if (list.size == 1) list.merged = 1;
}

void range_list_add_range(range_list& list, std::uint32_t first, std::uint32_t last)
{
    range_list_insert(list, ip_range{first, last});
}

void range_list_add_cidr(range_list& list, std::uint32_t address, unsigned prefix_length)
{
    range_list_insert(list, ip_range{address, block_last_address(address, prefix_length)});
}

range_list& range_list_copy(const range_list& source, range_list& target)
{
    std::span<const ip_range> ranges = range_list_view(source);
    range_list_clear(target);
    if (!ranges.empty()) {
        range_list_reserve(target, ranges.size());
        std::memcpy(target.data, ranges.data(), ranges.size() * sizeof(ip_range));
        target.size = target.merged = ranges.size();
    }
    return target;
}

void range_list_reserve(range_list& list, std::size_t count)
{
    if (count > list.capacity) grow_storage(list, count, false);
}

void range_list_release_spare(range_list& list)
{
    std::size_t bytes = storage_bytes(list.capacity);
    if (bytes < huge_page) return;
    std::size_t used = round_up(storage_bytes(list.size), small_page);
    std::size_t end = std::min(round_up(used, huge_page), bytes);
    if (end > used) page_block_discard(reinterpret_cast<char*>(list.data) + used, end - used);
}

std::span<const ip_range> range_list_view(const range_list& list)
{
    if (list.merged != list.size) merge_pending(list);
    return {list.data, list.size};
}

std::size_t range_list_size(const range_list& list) { return range_list_view(list).size(); }

bool range_list_empty(const range_list& list) { return list.size == 0; }

std::uint32_t block_last_address(std::uint32_t address, unsigned prefix_length)
{
    return address | ~mask_table[prefix_length];
}

unsigned highest_bit_index(std::uint32_t value)
{
    return value == 0 ? 0u : 31u - static_cast<unsigned>(__builtin_clz(value));
}

unsigned alignment_prefix(std::uint32_t address)
{
    return address == 0 ? 0u : 32u - static_cast<unsigned>(__builtin_ctz(address));
}

void write_cidr_block(output_stream& out, std::uint32_t address, unsigned prefix_length)
{
    char* p = out.reserve(address_text_room + 3);
    p = format_address(p, address);
    *p++ = '/';
    out.commit(format_small_number(p, prefix_length));
}

namespace {

inline void write_cidr_line(output_stream& out, std::uint32_t address, unsigned prefix_length)
{
    char* p = out.reserve(address_text_room + 4);
    p = format_address(p, address);
    *p++ = '/';
    p = format_small_number(p, prefix_length);
    *p++ = '\n';
    out.commit(p);
}

} // namespace

void range_list_write_cidr(output_stream& out, const range_list& list)
{
    for (const ip_range& range : range_list_view(list)) {
        if (range.first == 0 && range.last == top_address) {
            write_cidr_line(out, 0, 0);
            continue;
        }
        std::uint32_t start = range.first;
        for (;;) {
            // The largest block that starts at start and does not pass the range's end.
            unsigned size_prefix = 32 - highest_bit_index(range.last - start + 1);
            unsigned prefix = std::max(size_prefix, alignment_prefix(start));
            write_cidr_line(out, start, prefix);
            std::uint32_t block_end = block_last_address(start, prefix);
            if (block_end >= range.last) break;
            start = block_end + 1;
        }
    }
}

} // namespace blockset
