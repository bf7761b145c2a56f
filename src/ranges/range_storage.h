#pragma once
#include <cstddef>

#include "ranges/ip_range.h"

namespace blockset {

/// The block of ranges behind a range list. Small blocks come from the heap; from 64 KiB
/// up a block is mapped straight from the system and grows by moving its pages rather than
/// copying them.
class range_storage {
public:
    range_storage() = default;
    range_storage(range_storage&& other) noexcept;
    range_storage& operator=(range_storage&& other) noexcept;
    range_storage(const range_storage&) = delete;
    range_storage& operator=(const range_storage&) = delete;
    ~range_storage();

    ip_range* data() { return data_; }
    const ip_range* data() const { return data_; }
    std::size_t capacity() const { return capacity_; }

    /// Makes room for at least capacity ranges, keeping the first kept ones; huge asks for
    /// huge pages in the new part of a mapped block. False when the system refuses; the block
    /// is then as it was.
    [[nodiscard]] bool grow(std::size_t capacity, std::size_t kept, bool huge);
    /// Returns the block to the system; the storage is empty again.
    void release();
    /// Where whole huge pages lie past the first used ranges, gives them back, with the
    /// resident part of the last huge page the ranges touch. The ranges stay as they are.
    void release_spare(std::size_t used);

private:
    ip_range* data_ = nullptr;
    std::size_t capacity_ = 0;
};

} // namespace blockset
