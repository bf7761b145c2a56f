#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

#include "ranges/ip_range.h"
#include "ranges/range_storage.h"

namespace blockset {

class output_stream;

/// A set of IPv4 addresses as sorted, disjoint, non-adjacent ranges.
/// Additions at or after the last range's start extend or append at the end; others wait
/// as pending additions, sorted and merged in before any read, and before a large block grows
/// when they far outnumber the merged ranges. Readers see only the merged form, through
/// range_list_view().
struct range_list {
public:
    range_list() = default;
    range_list(range_list&& other) noexcept;
    range_list& operator=(range_list&& other) noexcept;
    range_list(const range_list&) = delete;
    range_list& operator=(const range_list&) = delete;
    ~range_list() = default;

private:
    friend void range_list_clear(range_list& list);
    friend void range_list_insert(range_list& list, ip_range range);
    friend void range_list_add_range(range_list& list, std::uint32_t first, std::uint32_t last);
    friend void range_list_reserve(range_list& list, std::size_t count);
    friend void range_list_expect(range_list& list, std::size_t count);
    friend void range_list_release_spare(range_list& list);
    friend range_list& range_list_copy(range_list& source, range_list& target);
    friend void range_list_append(range_list& list, std::span<const ip_range> ranges);
    friend void range_list_add_unsorted(range_list& list, std::span<const ip_range> ranges);
    friend std::span<const ip_range> range_list_view(range_list& list);

    void append(ip_range range);
    bool merge_nearby(ip_range range);
    void replace(std::size_t begin, std::size_t end, ip_range joined);
    void add_pending(ip_range range);
    void merge_pending();
    bool replace_by_sorted(std::span<const ip_range> first, std::span<const ip_range> second);
    void make_room(std::size_t count);

    /// storage_[0, merged_) is in invariant form; storage_[merged_, size_) are pending.
    range_storage storage_;
    std::size_t size_ = 0;
    std::size_t merged_ = 0;
};

/// Removes every range and releases the storage; the list can be used again at once.
void range_list_clear(range_list& list);
/// Adds the range; afterwards the list holds the union of the old set and the range.
/// A range whose first address lies above its last denotes no addresses and adds nothing.
void range_list_insert(range_list& list, ip_range range);
/// Adds first..last. Inline where the range extends the last range or follows it with room
/// to spare, as most ranges of a list read in order do; all else as range_list_insert.
inline void range_list_add_range(range_list& list, std::uint32_t first, std::uint32_t last)
{
    std::size_t size = list.size_;
    if (size == list.merged_ && size > 0 && first <= last) {
        ip_range& tail = list.storage_.data()[size - 1];
        if (first >= tail.first) {
            if (tail.last == top_address || first <= tail.last + 1) {
                if (last > tail.last) tail.last = last;
                return;
            }
            if (size < list.storage_.capacity()) {
                list.storage_.data()[size] = ip_range{first, last};
                list.size_ = list.merged_ = size + 1;
                return;
            }
        }
    }
    range_list_insert(list, ip_range{first, last});
}
/// Adds address..block_last_address(address, prefix_length); the host bits are kept.
void range_list_add_cidr(range_list& list, std::uint32_t address, unsigned prefix_length);
/// Makes room for count ranges in all, in small pages that become resident only as they
/// fill: for a list whose size is bounded in advance.
void range_list_reserve(range_list& list, std::size_t count);
/// Makes room for count ranges in all where the memory can be had, in huge pages where the
/// system has them, which become resident only as they fill: for a reader that knows about
/// how many ranges it may add. Without the memory the list grows as it fills, as it would
/// have. range_list_release_spare gives back the room left.
void range_list_expect(range_list& list, std::size_t count);
/// Gives back the room past the list's last range, resident or not, and a large block kept
/// for reuse; for a reader that has finished adding. The ranges stay as they are.
void range_list_release_spare(range_list& list);
/// Adds ranges in invariant form; when they start at or after the start of the list's last
/// range, as the sweeps of the set algebra hand them over, they are copied in one block.
void range_list_append(range_list& list, std::span<const ip_range> ranges);
/// Adds ranges in any order. Many of them, with the list's own, are sorted together into a
/// block of their own, sharing the work with the second processor where there is one.
void range_list_add_unsorted(range_list& list, std::span<const ip_range> ranges);
/// Sets how many ranges each of two sorted parts must hold for range_list_append to merge
/// them in two halves at once (2^20 unless set). For tests, which reach that way with fewer.
void range_list_set_shared_merge(std::size_t ranges);
/// Replaces the target's ranges by the source's; source and target must differ. The
/// target keeps its storage when that fits the source's ranges.
range_list& range_list_copy(range_list& source, range_list& target);
/// The one way to read a list: merges the pending additions, then gives the ranges,
/// ascending, disjoint and non-adjacent. The view lasts until the list next changes.
std::span<const ip_range> range_list_view(range_list& list);
/// Writes the list as the fewest aligned CIDR blocks, one "a.b.c.d/n" per line.
void range_list_write_cidr(output_stream& out, range_list& list);

/// Entry n has the n highest bits set.
extern const std::uint32_t mask_table[33];
// The listing's block arithmetic, inline for the listing's inner loop.

/// address OR the host mask of the prefix length.
inline std::uint32_t block_last_address(std::uint32_t address, unsigned prefix_length)
{
    return address | ~mask_table[prefix_length];
}

/// Index of the highest one bit; 0 for the value 0.
inline unsigned highest_bit_index(std::uint32_t value)
{
    return value == 0 ? 0u : 31u - static_cast<unsigned>(__builtin_clz(value));
}

/// Shortest prefix length at which the address starts a block; 0 for 0.0.0.0.
inline unsigned alignment_prefix(std::uint32_t address)
{
    return address == 0 ? 0u : 32u - static_cast<unsigned>(__builtin_ctz(address));
}

} // namespace blockset
