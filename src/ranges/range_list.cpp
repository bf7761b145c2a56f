#include "ranges/range_list.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <utility>

#include "io/second_processor.h"
#include "ranges/range_sort.h"

namespace blockset {

const std::uint32_t mask_table[33] = {
    0x00000000u, 0x80000000u, 0xC0000000u, 0xE0000000u, 0xF0000000u, 0xF8000000u, 0xFC000000u,
    0xFE000000u, 0xFF000000u, 0xFF800000u, 0xFFC00000u, 0xFFE00000u, 0xFFF00000u, 0xFFF80000u,
    0xFFFC0000u, 0xFFFE0000u, 0xFFFF0000u, 0xFFFF8000u, 0xFFFFC000u, 0xFFFFE000u, 0xFFFFF000u,
    0xFFFFF800u, 0xFFFFFC00u, 0xFFFFFE00u, 0xFFFFFF00u, 0xFFFFFF80u, 0xFFFFFFC0u, 0xFFFFFFE0u,
    0xFFFFFFF0u, 0xFFFFFFF8u, 0xFFFFFFFCu, 0xFFFFFFFEu, 0xFFFFFFFFu,
};

namespace {

/// A list of at least this many ranges merges its pending additions each time its size reaches
/// a power of two, once they are twice as many as the merged ranges. A list therefore grows
/// past the batch only for ranges that are distinct, or while the pending additions are fewer
/// than twice the merged ranges: it holds at most about six times its distinct ranges, or one
/// batch, however many duplicates arrive out of order. (Merging at every doubling whatever
/// the pending additions would merge each range twice as often for a list given wholly out
/// of order; a list of up to a batch is sorted once, when it is first read.) A reader that
/// expects a range per line makes room for them all at once; that room bounds the list
/// instead until it is half full, and the additions wait to be sorted once, with the second
/// processor's.
constexpr std::size_t pending_batch = std::size_t{1} << 20;

/// From this many, ranges out of order are sorted in two parts at once, on two processors
/// where there are two, into a block of their own: the pending additions, or the list with
/// ranges added in any order.
constexpr std::size_t together_sort = std::size_t{1} << 18;

struct sorted_ranges {
    std::size_t count;
    /// Whether they went to the block own rather than to sorted.
    bool in_own;
};

/// Sorts first and second together into sorted, a block of their own, in invariant form, or
/// into own, when given, a block with room for both that may hold them; returns how many
/// ranges that leaves and where, or nothing when they are few or without the memory.
std::optional<sorted_ranges> sort_into(range_storage& sorted, std::span<const ip_range> first, std::span<const ip_range> second,
                                       ip_range* own = nullptr)
{
    if (first.size() + second.size() < together_sort) return std::nullopt;
    if (first.size() > top_address || second.size() > top_address) return std::nullopt;
    try {
        sorted.grow(first.size() + second.size(), 0, true);
        sorted_ranges result{0, false};
        result.count = range_sort_pair_into(first, second, sorted.data(), own, result.in_own);
        return result;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

/// Ranges examined before the end for an addition that starts a little before the last one.
constexpr std::size_t nearby_ranges = 8;

/// Merges sorted kept[0, i) and sorted added[0, count) into out[0, i + count), from the back;
/// of ranges with equal first addresses, the kept ones come first. kept may be out itself,
/// and the ranges of kept below the first addition then stay where they are; otherwise
/// neither part may overlap out. added must lie past out[i + count). Returns how many
/// ranges of kept stayed below every addition.
std::size_t merge_back(ip_range* out, const ip_range* kept, std::size_t i, const ip_range* added, std::size_t count)
{
    std::size_t at = i + count;
    // Which part the next range comes from cannot be predicted for input out of order, so
    // the choice is made by arithmetic rather than by a branch.
    while (count > 0 && i > 0) {
        ip_range keep = kept[i - 1];
        ip_range addition = added[count - 1];
        bool take_kept = addition.first < keep.first;
        out[--at] = take_kept ? keep : addition;
        i -= take_kept;
        count -= !take_kept;
    }
    while (count > 0) out[--at] = added[--count];
    if (kept != out && i > 0) std::memcpy(out, kept, i * sizeof(ip_range));
    return i;
}

/// Parts of at least this many ranges each are merged in two halves at once, the upper one
/// on the second processor.
std::size_t shared_merge = std::size_t{1} << 20;

struct upper_half {
    ip_range* out;
    const ip_range* kept;
    std::size_t kept_count;
    const ip_range* added;
    std::size_t count;

    void merge() const { merge_back(out, kept, kept_count, added, count); }
};

/// merge_back(data, data, merged, added, count) in two halves at once, the upper one on the
/// second processor: the ranges from the middle addition's first address on. Its part of
/// data moves to a block of its own first, since the lower half's result covers where it
/// lies. False, changing nothing, without that block.
bool merge_in_halves(ip_range* data, std::size_t merged, const ip_range* added, std::size_t count, std::size_t& below)
{
    auto before = [](const ip_range& range, std::uint32_t address) { return range.first < address; };
    const std::uint32_t middle = added[count / 2].first;
    const std::size_t kept_below = static_cast<std::size_t>(std::lower_bound(data, data + merged, middle, before) - data);
    const std::size_t added_below = static_cast<std::size_t>(std::lower_bound(added, added + count, middle, before) - added);
    range_storage upper_kept;
    try {
        upper_kept.grow(merged - kept_below, 0, true);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (merged > kept_below) std::memcpy(upper_kept.data(), data + kept_below, (merged - kept_below) * sizeof(ip_range));
    upper_half upper{data + kept_below + added_below, upper_kept.data(), merged - kept_below, added + added_below,
                     count - added_below};
    second_processor helper;
    const bool shared = helper.start([](void* half) { static_cast<upper_half*>(half)->merge(); }, &upper);
    below = merge_back(data, data, kept_below, added, added_below);
    if (shared) {
        helper.join();
    } else {
        upper.merge();
    }
    return true;
}

/// Merges sorted data[0, merged) and sorted added[0, count) into data[0, merged + count),
/// from the back, so that the ranges of data below the first addition stay where they are.
/// added must lie past data[merged + count). Returns the index from which the result may
/// need coalescing.
std::size_t merge_from_back(ip_range* data, std::size_t merged, const ip_range* added, std::size_t count)
{
    std::size_t below = 0;
    const bool long_parts = merged >= shared_merge && count >= shared_merge;
    if (!long_parts || !merge_in_halves(data, merged, added, count, below)) below = merge_back(data, data, merged, added, count);
    return below > 0 ? below - 1 : 0;
}

} // namespace

range_list::range_list(range_list&& other) noexcept
    : storage_(std::move(other.storage_)), size_(std::exchange(other.size_, 0)),
      merged_(std::exchange(other.merged_, 0))
{
}

range_list& range_list::operator=(range_list&& other) noexcept
{
    if (this != &other) {
        storage_ = std::move(other.storage_);
        size_ = std::exchange(other.size_, 0);
        merged_ = std::exchange(other.merged_, 0);
    }
    return *this;
}

/// Room for count ranges as a list grows by insertion: the capacity doubles.
void range_list::make_room(std::size_t count)
{
    if (count <= storage_.capacity()) return;
    std::size_t doubled = storage_.capacity() < 8 ? 8 : storage_.capacity() * 2;
    storage_.grow(std::max(count, doubled), size_, true);
}

/// Appends a range that follows the last one with a gap.
void range_list::append(ip_range range)
{
    make_room(size_ + 1);
    storage_.data()[size_++] = range;
    merged_ = size_;
}

/// A range that starts a little before the last range (a list in order but for an overlap
/// with the lines just before) is merged in place among the last few ranges, keeping the
/// list in invariant form instead of sending it to the pending additions. False, changing
/// nothing, when the range starts further back.
bool range_list::merge_nearby(ip_range range)
{
    const ip_range* data = storage_.data();
    // Ranges [0, begin) end well before the range; ranges [begin, end) are reached by it.
    std::size_t lowest = size_ > nearby_ranges ? size_ - nearby_ranges : 0;
    std::size_t begin = size_;
    while (begin > lowest && reaches(data[begin - 1], range)) --begin;
    if (begin > 0 && reaches(data[begin - 1], range)) return false;
    std::size_t end = begin;
    while (end < size_ && reaches(range, data[end])) ++end;
    ip_range joined = range;
    if (end > begin) {
        joined.first = std::min(range.first, data[begin].first);
        joined.last = std::max(range.last, data[end - 1].last);
    }
    replace(begin, end, joined);
    return true;
}

/// Replaces the merged ranges [begin, end), none or more, by the one range joined.
void range_list::replace(std::size_t begin, std::size_t end, ip_range joined)
{
    if (begin == end) make_room(size_ + 1);
    ip_range* data = storage_.data();
    std::memmove(data + begin + 1, data + end, (size_ - end) * sizeof(ip_range));
    data[begin] = joined;
    size_ = size_ - (end - begin) + 1;
    merged_ = size_;
}

void range_list::add_pending(ip_range range)
{
    if (size_ >= pending_batch && (size_ & (size_ - 1)) == 0 && size_ - merged_ >= 2 * merged_
        && 2 * size_ >= storage_.capacity()) {
        merge_pending();
    }
    make_room(size_ + 1);
    storage_.data()[size_++] = range;
}

/// Sorts the pending additions and merges them into the merged ranges.
void range_list::merge_pending()
{
    ip_range* data = storage_.data();
    std::size_t pending = size_ - merged_;
    if (merged_ * 2 <= pending) {
        // Many additions to a short list: sorting the whole costs little more than sorting
        // the additions, and saves merging the two parts.
        if (replace_by_sorted({data, size_ / 2}, {data + size_ / 2, size_ - size_ / 2})) return;
        range_sort_by_first(data, size_);
        size_ = merged_ = range_coalesce(data, 0, size_);
        return;
    }
    // Many additions merge from a block of their own.
    const ip_range* additions = data + merged_;
    range_storage sorted;
    if (auto result = sort_into(sorted, {additions, pending / 2}, {additions + pending / 2, pending - pending / 2})) {
        std::size_t from = merge_from_back(data, merged_, sorted.data(), result->count);
        size_ = merged_ = range_coalesce(data, from, merged_ + result->count);
        return;
    }
    range_sort_by_first(data + merged_, pending);
    pending = range_coalesce(data, merged_, size_) - merged_;
    // The additions move to the top of the block, and the two parts merge from the back
    // into the bottom: no other memory is needed, and the pages of the top, once resident,
    // serve every later merge.
    make_room(merged_ + 2 * pending);
    data = storage_.data();
    ip_range* added = data + storage_.capacity() - pending;
    std::memmove(added, data + merged_, pending * sizeof(ip_range));
    std::size_t from = merge_from_back(data, merged_, added, pending);
    size_ = merged_ = range_coalesce(data, from, merged_ + pending);
}

void range_list_set_shared_merge(std::size_t ranges) { shared_merge = ranges; }

void range_list_clear(range_list& list)
{
    list.storage_.release();
    list.size_ = list.merged_ = 0;
}

void range_list_insert(range_list& list, ip_range range)
{
    if (range.first > range.last) return;
    if (list.merged_ != list.size_) {
        list.add_pending(range);
        return;
    }
    if (list.size_ > 0) {
        // The tail fast path: a range that starts at or after the last range's start extends
        // it or is appended.
        ip_range& tail = list.storage_.data()[list.size_ - 1];
        if (range.first < tail.first) {
            if (!list.merge_nearby(range)) list.add_pending(range);
            return;
        }
        if (reaches(tail, range)) {
            tail.last = std::max(tail.last, range.last);
            return;
        }
    }
    list.append(range);
}

void range_list_add_cidr(range_list& list, std::uint32_t address, unsigned prefix_length)
{
    range_list_insert(list, ip_range{address, block_last_address(address, prefix_length)});
}

void range_list_append(range_list& list, std::span<const ip_range> ranges)
{
    std::span<const ip_range> merged = range_list_view(list);
    if (ranges.empty()) return;
    if (!merged.empty() && ranges.front().first < merged.back().first) {
        // The two sorted parts merge from the back, in place and in one pass.
        list.make_room(list.size_ + ranges.size());
        ip_range* data = list.storage_.data();
        std::size_t from = merge_from_back(data, list.size_, ranges.data(), ranges.size());
        list.size_ = list.merged_ = range_coalesce(data, from, list.size_ + ranges.size());
        return;
    }
    // Ranges that the last range reaches merge into it; the rest follow it with gaps.
    std::size_t taken = 0;
    while (taken < ranges.size() && list.size_ > 0 && reaches(list.storage_.data()[list.size_ - 1], ranges[taken])) {
        range_list_insert(list, ranges[taken++]);
    }
    std::size_t count = ranges.size() - taken;
    list.make_room(list.size_ + count);
    std::memcpy(list.storage_.data() + list.size_, ranges.data() + taken, count * sizeof(ip_range));
    list.size_ = list.merged_ = list.size_ + count;
}

/// Replaces the list's ranges by first and second sorted together, where sort_into can: in a
/// block of their own, or in the list's block when it has room for them; either part may be
/// the list's own ranges.
bool range_list::replace_by_sorted(std::span<const ip_range> first, std::span<const ip_range> second)
{
    range_storage sorted;
    ip_range* own = storage_.capacity() >= first.size() + second.size() ? storage_.data() : nullptr;
    auto result = sort_into(sorted, first, second, own);
    if (!result) return false;
    if (!result->in_own) storage_ = std::move(sorted);
    size_ = merged_ = result->count;
    return true;
}

void range_list_add_unsorted(range_list& list, std::span<const ip_range> ranges)
{
    if (list.replace_by_sorted({list.storage_.data(), list.size_}, ranges)) return;
    // Few ranges, or without the memory: they join the pending additions.
    for (const ip_range& range : ranges) range_list_add_range(list, range.first, range.last);
}

range_list& range_list_copy(range_list& source, range_list& target)
{
    std::span<const ip_range> ranges = range_list_view(source);
    // Storage that fits, and is not much larger, is used again: its pages are resident.
    std::size_t capacity = target.storage_.capacity();
    if (capacity < ranges.size() || capacity / 4 > ranges.size()) {
        target.storage_.release();
        target.storage_.grow(ranges.size(), 0, true);
    }
    if (!ranges.empty()) std::memcpy(target.storage_.data(), ranges.data(), ranges.size() * sizeof(ip_range));
    target.size_ = target.merged_ = ranges.size();
    return target;
}

void range_list_reserve(range_list& list, std::size_t count) { list.storage_.grow(count, list.size_, false); }

void range_list_expect(range_list& list, std::size_t count)
{
    try {
        list.storage_.grow(count, list.size_, true);
    } catch (const std::bad_alloc&) {
        // The list grows as it fills instead.
    }
}

void range_list_release_spare(range_list& list)
{
    list.storage_.release_spare(list.size_);
    range_storage_trim_spare();
}

std::span<const ip_range> range_list_view(range_list& list)
{
    if (list.merged_ != list.size_) list.merge_pending();
    return {list.storage_.data(), list.size_};
}

} // namespace blockset
