#include "ranges/range_storage.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/pages.h"

namespace blockset {

namespace {

// Storage from 64 KiB up is mapped straight from the system, so that it grows by moving
// its pages to a larger block rather than by copying them. Blocks of 2 MiB and more start at
// a boundary of the 2 MiB pages of transparent huge page support, and a list growing by
// insertion has the new part of its block advised to use them: filling it then takes one
// page fault per 2 MiB instead of one per 4 KiB, and page faults are a large part of the
// cost of reading a big list. A huge page is resident as a whole once touched, so the part
// of the last one past the list's end is given back once the list has its ranges.
constexpr std::size_t mapped_threshold = std::size_t{1} << 16;

std::size_t storage_bytes(std::size_t capacity) { return capacity * sizeof(ip_range); }

bool is_mapped(std::size_t capacity) { return storage_bytes(capacity) >= mapped_threshold; }

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
        page_block_unmap(data_, storage_bytes(capacity_));
    } else {
        std::free(data_);
    }
    data_ = nullptr;
    capacity_ = 0;
}

bool range_storage::grow(std::size_t capacity, std::size_t kept, bool huge)
{
    if (capacity <= capacity_) return true;
    if (capacity > SIZE_MAX / sizeof(ip_range) / 2) return false;
    if (!is_mapped(capacity)) {
        void* grown = std::realloc(data_, storage_bytes(capacity));
        if (grown == nullptr) return false;
        data_ = static_cast<ip_range*>(grown);
        capacity_ = capacity;
        return true;
    }
    std::size_t bytes = storage_bytes(capacity);
    const std::size_t held = storage_bytes(capacity_);
    bytes = page_round_up(bytes, bytes >= huge_page ? huge_page : small_page);
    auto* grown = static_cast<char*>(page_block_map(bytes));
    if (grown == nullptr) return false;
    if (huge && bytes >= huge_page) page_block_prefer_huge_pages(grown + held, bytes - held);
    if (is_mapped(capacity_)) {
        if (!page_block_move(data_, held, grown)) {
            page_block_unmap(grown, bytes);
            return false;
        }
    } else if (data_ != nullptr) {
        std::memcpy(grown, data_, storage_bytes(kept));
        std::free(data_);
    }
    data_ = reinterpret_cast<ip_range*>(grown);
    capacity_ = bytes / sizeof(ip_range);
    return true;
}

void range_storage::release_spare(std::size_t used)
{
    std::size_t bytes = storage_bytes(capacity_);
    if (bytes < huge_page) return;
    // The huge pages past the used ones go back to the system, resident or not; the first
    // stays, so that the block remains mapped.
    auto* start = reinterpret_cast<char*>(data_);
    std::size_t used_bytes = page_round_up(storage_bytes(used), small_page);
    const std::size_t end = std::min(std::max(page_round_up(used_bytes, huge_page), huge_page), bytes);
    if (end == bytes) return;
    if (end > used_bytes) page_block_discard(start + used_bytes, end - used_bytes);
    page_block_unmap(start + end, bytes - end);
    capacity_ = end / sizeof(ip_range);
}

} // namespace blockset
