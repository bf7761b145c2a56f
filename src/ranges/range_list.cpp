#include "ranges/range_list.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "ranges/range_sort.h"

namespace blockset {

namespace {

/// A list of at least this many ranges merges its pending additions each time its size reaches
/// a power of two, once they are twice as many as the merged ranges. A list therefore grows
/// past the batch only for ranges that are distinct, or while the pending additions are fewer
/// than twice the merged ranges: it holds at most about six times its distinct ranges, or one
/// batch, however many duplicates arrive out of order. (Merging at every doubling whatever
/// the pending additions would merge each range twice as often for a list given wholly out
/// of order; a list of up to a batch is sorted once, when it is first read.) A reader that
/// reserves room for a range per line bounds the list instead until it is half full.
constexpr std::size_t pending_batch = std::size_t{1} << 20;

/// A cleared list keeps a block of up to this many ranges (4 KiB) for the ranges that follow.
constexpr std::size_t kept_when_cleared = 512;

/// Ranges examined before the end for an addition that starts a little before the last one.
constexpr std::size_t nearby_ranges = 8;

/// Merges sorted data[0, kept) and sorted added[0, count) into data[0, kept + count), from
/// the back; the ranges of data below the first addition stay where they are. added must lie
/// past data[kept + count). Returns the index from which the result may need coalescing.
std::size_t merge_from_back(ip_range* data, std::size_t kept, const ip_range* added, std::size_t count)
{
    std::size_t at = kept + count;
    // Which part the next range comes from cannot be predicted for input out of order, so
    // the choice is made by arithmetic rather than by a branch.
    while (count > 0 && kept > 0) {
        const ip_range keep = data[kept - 1];
        const ip_range addition = added[count - 1];
        const bool take_kept = addition.first < keep.first;
        data[--at] = take_kept ? keep : addition;
        kept -= take_kept;
        count -= !take_kept;
    }
    while (count > 0) data[--at] = added[--count];
    return kept > 0 ? kept - 1 : 0;
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
    const std::size_t doubled = storage_.capacity() < 8 ? 8 : storage_.capacity() * 2;
    if (!storage_.grow(std::max(count, doubled), size_, true)) throw std::bad_alloc();
}

/// A range that starts a little before the last range (a list in order but for an overlap
/// with the lines just before) is merged in place among the last few ranges, keeping the
/// list in invariant form instead of sending it to the pending additions. False, changing
/// nothing, when the range starts further back.
bool range_list::merge_nearby(ip_range range)
{
    const ip_range* data = storage_.data();
    // Ranges [0, begin) end well before the range; ranges [begin, end) are reached by it.
    const std::size_t lowest = size_ > nearby_ranges ? size_ - nearby_ranges : 0;
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
        range_sort_by_first(data, size_);
        size_ = merged_ = range_coalesce(data, 0, size_);
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
    const std::size_t from = merge_from_back(data, merged_, added, pending);
    size_ = merged_ = range_coalesce(data, from, merged_ + pending);
}

void range_list::insert_general(ip_range range)
{
    if (range.first > range.last) return;
    if (merged_ != size_) {
        add_pending(range);
        return;
    }
    if (size_ > 0 && range.first < storage_.data()[size_ - 1].first) {
        if (!merge_nearby(range)) add_pending(range);
        return;
    }
    make_room(size_ + 1);
    size_ = merged_ = extend_or_append(storage_.data(), size_, range);
}

void range_list_clear(range_list& list)
{
    // A small block stays for the ranges that come next, as a script's set literals come
    // one after another; a larger one goes back at once.
    if (list.storage_.capacity() > kept_when_cleared) list.storage_.release();
    list.size_ = list.merged_ = 0;
}

void range_list_insert_sorted(range_list& list, std::span<const ip_range> ranges)
{
    std::span<const ip_range> merged = range_list_view(list);
    if (ranges.empty()) return;
    const bool interleaved = !merged.empty() && ranges.front().first < merged.back().first;
    list.make_room(list.size_ + ranges.size());
    ip_range* data = list.storage_.data();
    if (interleaved) {
        // The two sorted parts merge from the back, in place and in one pass.
        const std::size_t from = merge_from_back(data, list.size_, ranges.data(), ranges.size());
        list.size_ = list.merged_ = range_coalesce(data, from, list.size_ + ranges.size());
        return;
    }
    // Ranges that the last range reaches merge into it; the rest follow it with gaps.
    std::size_t taken = 0;
    while (taken < ranges.size() && list.size_ > 0 && reaches(data[list.size_ - 1], ranges[taken])) {
        list.size_ = extend_or_append(data, list.size_, ranges[taken++]);
    }
    const std::size_t count = ranges.size() - taken;
    std::memcpy(data + list.size_, ranges.data() + taken, count * sizeof(ip_range));
    list.size_ = list.merged_ = list.size_ + count;
}

range_list& range_list_copy(range_list& source, range_list& target)
{
    std::span<const ip_range> ranges = range_list_view(source);
    // Storage that fits, and is not much larger, is used again: its pages are resident.
    const std::size_t capacity = target.storage_.capacity();
    if (capacity < ranges.size() || capacity / 4 > ranges.size()) {
        target.storage_.release();
        if (!target.storage_.grow(ranges.size(), 0, true)) throw std::bad_alloc();
    }
    if (!ranges.empty()) std::memcpy(target.storage_.data(), ranges.data(), ranges.size() * sizeof(ip_range));
    target.size_ = target.merged_ = ranges.size();
    return target;
}

bool range_list_reserve(range_list& list, std::size_t count) { return list.storage_.grow(count, list.size_, true); }

std::span<const ip_range> range_list_view(range_list& list)
{
    if (list.merged_ != list.size_) list.merge_pending();
    list.storage_.release_spare(list.size_);
    return {list.storage_.data(), list.size_};
}

} // namespace blockset
