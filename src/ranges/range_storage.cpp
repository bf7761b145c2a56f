#include "ranges/range_storage.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>

#include "ranges/page_storage.h"

namespace blockset {

namespace {

// Storage from 64 KiB up is mapped straight from the system, so that it grows by moving
// its pages to a larger block rather than by copying them. Blocks of 2 MiB and more start at
// a boundary of the 2 MiB pages of transparent huge page support, and a list growing by
// insertion has the new part of its block advised to use them: filling it then takes one
// page fault per 2 MiB instead of one per 4 KiB, and page faults are a large part of the
// cost of reading a big list. A huge page is resident as a whole once touched, so the part
// of the last one past the list's end is given back when a reader has finished the list.
constexpr std::size_t mapped_threshold = std::size_t{1} << 16;

std::size_t storage_bytes(std::size_t capacity) { return capacity * sizeof(ip_range); }

bool is_mapped(std::size_t capacity) { return storage_bytes(capacity) >= mapped_threshold; }

/// The last mapped block given back waits, with its pages still resident, for the next
/// block that needs them: a list of about its size takes it whole, and a block that grows
/// has its new part filled with its pages. A script that replaces a large variable statement
/// by statement, or a list that grows after a sort's scratch block is given back, would
/// otherwise fault in fresh pages, each cleared by the system, for memory it has just let go.
/// A spare larger than this is given back to the system when a reader finishes its list.
constexpr std::size_t largest_spare = std::size_t{32} << 20;

struct spare_block {
    void* data = nullptr;
    std::size_t bytes = 0;
};

spare_block spare;
/// A reader's second processor takes storage of its own while the main thread grows and
/// gives back its lists'.
std::mutex spare_lock;

/// Keeps a block given back as the spare, in place of the one kept before. Where pages cannot
/// move, only a block that a list of about its size can take whole is worth keeping.
void keep_spare(void* data, std::size_t bytes)
{
    if (bytes > largest_spare && !page_block_moves_pages()) {
        page_block_unmap(data, bytes);
        return;
    }
    spare_block replaced;
    {
        std::lock_guard<std::mutex> hold(spare_lock);
        replaced = std::exchange(spare, spare_block{data, bytes});
    }
    if (replaced.data != nullptr) page_block_unmap(replaced.data, replaced.bytes);
}

/// Gives the spare block back to the system when it holds more than bytes.
void drop_spare_above(std::size_t bytes)
{
    spare_block kept;
    {
        std::lock_guard<std::mutex> hold(spare_lock);
        if (spare.data == nullptr || spare.bytes <= bytes) return;
        kept = std::exchange(spare, spare_block{});
    }
    page_block_unmap(kept.data, kept.bytes);
}

/// Fills to[0, bytes) with pages of the spare block, as many as it has, where the system
/// can move pages; what is left of the spare stays the spare.
void fill_from_spare(char* to, std::size_t bytes)
{
    if (!page_block_moves_pages()) return;
    spare_block taken;
    {
        std::lock_guard<std::mutex> hold(spare_lock);
        taken = std::exchange(spare, spare_block{});
    }
    if (taken.data == nullptr) return;
    std::size_t moved = std::min(taken.bytes, bytes);
    if (!page_block_move(taken.data, moved, to)) moved = 0;
    if (moved < taken.bytes) keep_spare(static_cast<char*>(taken.data) + moved, taken.bytes - moved);
}

/// The spare block when it holds at least bytes and not four times as many; null otherwise.
void* take_spare(std::size_t bytes, std::size_t& taken_bytes)
{
    std::lock_guard<std::mutex> hold(spare_lock);
    if (spare.data == nullptr || spare.bytes < bytes || spare.bytes / 4 > bytes) return nullptr;
    taken_bytes = spare.bytes;
    return std::exchange(spare, spare_block{}).data;
}

} // namespace

range_storage::range_storage(range_storage&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), capacity_(std::exchange(other.capacity_, 0))
{
}

range_storage& range_storage::operator=(range_storage&& other) noexcept
{
    if (this != &other) {
        release();
        data_ = std::exchange(other.data_, nullptr);
        capacity_ = std::exchange(other.capacity_, 0);
    }
    return *this;
}

range_storage::~range_storage() { release(); }

void range_storage::release()
{
    if (is_mapped(capacity_)) {
        keep_spare(data_, storage_bytes(capacity_));
    } else {
        std::free(data_);
    }
    data_ = nullptr;
    capacity_ = 0;
}

void range_storage::grow(std::size_t capacity, std::size_t kept, bool huge)
{
    if (capacity <= capacity_) return;
    if (!is_mapped(capacity)) {
        void* grown = std::realloc(data_, storage_bytes(capacity));
        if (grown == nullptr) throw std::bad_alloc();
        data_ = static_cast<ip_range*>(grown);
        capacity_ = capacity;
        return;
    }
    std::size_t bytes = storage_bytes(capacity);
    std::size_t held = storage_bytes(capacity_);
    if (!is_mapped(capacity_)) {
        if (void* reused = take_spare(bytes, bytes)) {
            if (data_ != nullptr) std::memcpy(reused, data_, storage_bytes(kept));
            std::free(data_);
            data_ = static_cast<ip_range*>(reused);
            capacity_ = bytes / sizeof(ip_range);
            return;
        }
        // A first mapped block has room to spare, so that as the spare it can serve again
        // for a list a little longer than its own.
        bytes += bytes / 8;
    }
    bytes = page_round_up(bytes, bytes >= huge_page ? huge_page : small_page);
    auto* grown = static_cast<char*>(page_block_map(bytes));
    if (grown == nullptr) {
        // Under a limit on address space the spare's room may be what is missing.
        drop_spare_above(0);
        grown = static_cast<char*>(page_block_map(bytes));
    }
    if (grown == nullptr) throw std::bad_alloc();
    if (huge && bytes >= huge_page) page_block_prefer_huge_pages(grown + held, bytes - held);
    fill_from_spare(grown + held, bytes - held);
    if (is_mapped(capacity_)) {
        if (!page_block_move(data_, held, grown)) {
            page_block_unmap(grown, bytes);
            throw std::bad_alloc();
        }
    } else if (data_ != nullptr) {
        std::memcpy(grown, data_, storage_bytes(kept));
        std::free(data_);
    }
    data_ = reinterpret_cast<ip_range*>(grown);
    capacity_ = bytes / sizeof(ip_range);
}

void range_storage::release_spare(std::size_t used)
{
    std::size_t bytes = storage_bytes(capacity_);
    if (bytes < huge_page) return;
    // The huge pages past the used ones go back to the system, resident or not; the first
    // stays, so that the block remains mapped.
    auto* start = reinterpret_cast<char*>(data_);
    std::size_t used_bytes = page_round_up(storage_bytes(used), small_page);
    std::size_t end = std::min(std::max(page_round_up(used_bytes, huge_page), huge_page), bytes);
    if (end > used_bytes) page_block_discard(start + used_bytes, end - used_bytes);
    if (end < bytes) {
        page_block_unmap(start + end, bytes - end);
        capacity_ = end / sizeof(ip_range);
    }
}

void range_storage_trim_spare() { drop_spare_above(largest_spare); }

} // namespace blockset
