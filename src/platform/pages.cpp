#include "platform/pages.h"

#include <cstdint>
#include <cstring>
#include <sys/mman.h>

// The Linux calls, unless a build asks for the portable ones on Linux too.
#if defined(__linux__) && !defined(BLOCKSET_PORTABLE_PAGES)
#define BLOCKSET_LINUX_PAGES 1
#endif

namespace blockset {

void* page_block_map(std::size_t bytes)
{
    if (bytes < huge_page) {
        void* block = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANON, -1, 0);
        return block == MAP_FAILED ? nullptr : block;
    }
    // Over-reserve by one huge page to find the boundary, then give back the slack.
    std::size_t reserved = bytes + huge_page;
    void* area = ::mmap(nullptr, reserved, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANON, -1, 0);
    if (area == MAP_FAILED) return nullptr;
    auto start = reinterpret_cast<std::uintptr_t>(area);
    std::uintptr_t aligned = page_round_up(start, huge_page);
    if (aligned > start) ::munmap(area, aligned - start);
    std::uintptr_t end = aligned + bytes;
    if (start + reserved > end) ::munmap(reinterpret_cast<void*>(end), start + reserved - end);
    return reinterpret_cast<void*>(aligned);
}

void page_block_unmap(void* block, std::size_t bytes) { ::munmap(block, bytes); }

bool page_block_move(void* from, std::size_t held, void* to)
{
#if defined(BLOCKSET_LINUX_PAGES)
    // Moving the page table entries costs nothing per byte.
    return ::mremap(from, held, held, MREMAP_MAYMOVE | MREMAP_FIXED, to) != MAP_FAILED;
#else
    std::memcpy(to, from, held);
    ::munmap(from, held);
    return true;
#endif
}

bool page_block_moves_pages()
{
#if defined(BLOCKSET_LINUX_PAGES)
    return true;
#else
    return false;
#endif
}

void page_block_prefer_huge_pages([[maybe_unused]] void* start, [[maybe_unused]] std::size_t bytes)
{
#if defined(BLOCKSET_LINUX_PAGES) && defined(MADV_HUGEPAGE)
    // Without huge page support the block still works, in small pages. (FreeBSD promotes
    // aligned blocks to superpages by itself and has no such request.)
    ::madvise(start, bytes, MADV_HUGEPAGE);
#endif
}

void page_block_guard(void* start, std::size_t bytes) { ::mprotect(start, bytes, PROT_NONE); }

void page_block_discard(void* start, std::size_t bytes)
{
#if defined(BLOCKSET_LINUX_PAGES) || !defined(MADV_FREE)
    ::madvise(start, bytes, MADV_DONTNEED);
#else
    ::madvise(start, bytes, MADV_FREE);
#endif
}

} // namespace blockset
