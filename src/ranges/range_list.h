#pragma once
#include <cstddef>
#include <span>

#include "ranges/ip_range.h"
#include "ranges/range_storage.h"

namespace blockset {

/// A set of IPv4 addresses as sorted, disjoint, non-adjacent ranges.
/// Additions at or after the last range's start extend or append at the end; others wait
/// as pending additions, sorted and merged in before any read, and before a large block grows
/// when they far outnumber the merged ranges. Readers see only the merged form, through
/// range_list_view(), which also gives back the room a list no longer needs.
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
    friend void range_list_insert_sorted(range_list& list, std::span<const ip_range> ranges);
    friend bool range_list_reserve(range_list& list, std::size_t count);
    friend range_list& range_list_copy(range_list& source, range_list& target);
    friend std::span<const ip_range> range_list_view(range_list& list);

    void insert_general(ip_range range);
    bool merge_nearby(ip_range range);
    void replace(std::size_t begin, std::size_t end, ip_range joined);
    void add_pending(ip_range range);
    void merge_pending();
    void make_room(std::size_t count);

    /// storage_[0, merged_) is in invariant form; storage_[merged_, size_) are pending.
    range_storage storage_;
    std::size_t size_ = 0;
    std::size_t merged_ = 0;
};

/// Removes every range; a small block stays for the ranges added next, a larger one goes
/// back to the system.
void range_list_clear(range_list& list);
/// Adds the range; afterwards the list holds the union of the old set and the range.
/// A range whose first address lies above its last denotes no addresses and adds nothing.
/// Inline where the range extends the last range or follows it with room to spare, as most
/// ranges of a list read in order do.
inline void range_list_insert(range_list& list, ip_range range)
{
    const std::size_t size = list.size_;
    if (size == list.merged_ && size > 0 && size < list.storage_.capacity() && range.first <= range.last
        && range.first >= list.storage_.data()[size - 1].first) {
        list.size_ = list.merged_ = extend_or_append(list.storage_.data(), size, range);
        return;
    }
    list.insert_general(range);
}
/// Adds ranges in invariant form: where they start at or after the start of the list's last
/// range, as the sweeps of the set algebra hand them over, they are copied in one block;
/// otherwise the two sorted parts merge in one pass.
void range_list_insert_sorted(range_list& list, std::span<const ip_range> ranges);
/// Asks for room for count ranges in all, for a reader that knows about how many ranges it
/// may add: the room is mapped in huge pages where the system has them, which become
/// resident only as they fill. Only advice: without the memory the list grows as it fills,
/// and the answer is false.
bool range_list_reserve(range_list& list, std::size_t count);
/// Replaces the target's ranges by the source's; source and target must differ. The
/// target keeps its storage when that fits the source's ranges.
range_list& range_list_copy(range_list& source, range_list& target);
/// The one way to read a list: merges the pending additions, gives back the room past the
/// ranges, then gives the ranges, ascending, disjoint and non-adjacent. The view lasts until
/// the list next changes.
std::span<const ip_range> range_list_view(range_list& list);

} // namespace blockset
