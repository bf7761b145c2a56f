#pragma once
#include <cstddef>
#include <new>

namespace blockset {

/// Memory for a block of bytes: from the heap when small; from 2 MiB up mapped from the
/// system in huge pages where it has them, so that filling it takes a page fault per 2 MiB
/// rather than per 4 KiB. Throws std::bad_alloc when none can be had.
void* ipv6_block_take(std::size_t bytes);
/// Whether ipv6_block_take would give a block of this many bytes now.
bool ipv6_block_available(std::size_t bytes) noexcept;
/// Gives back a block that ipv6_block_take gave for this many bytes.
void ipv6_block_give(void* block, std::size_t bytes) noexcept;

/// The allocator of an IPv6 list's vectors, which reach tens of megabytes as a large list is
/// read: its blocks come from ipv6_block_take.
template <class T>
struct ipv6_allocator {
    using value_type = T;

    ipv6_allocator() = default;
    template <class U>
    ipv6_allocator(const ipv6_allocator<U>&) noexcept
    {
    }

    T* allocate(std::size_t n)
    {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
        return static_cast<T*>(ipv6_block_take(n * sizeof(T)));
    }
    void deallocate(T* block, std::size_t n) noexcept { ipv6_block_give(block, n * sizeof(T)); }

    template <class U>
    friend bool operator==(const ipv6_allocator&, const ipv6_allocator<U>&) noexcept
    {
        return true;
    }
};

} // namespace blockset
