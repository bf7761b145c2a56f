#include "ranges/ipv6_allocator.h"

#include "platform/pages.h"

namespace blockset {

void* ipv6_block_take(std::size_t bytes)
{
    if (bytes < huge_page) return ::operator new(bytes);
    void* block = page_block_map(page_round_up(bytes, small_page));
    if (block == nullptr) throw std::bad_alloc();
    page_block_prefer_huge_pages(block, page_round_up(bytes, small_page));
    return block;
}

bool ipv6_block_available(std::size_t bytes) noexcept
{
    if (bytes < huge_page) return true;
    void* block = page_block_map(page_round_up(bytes, small_page));
    if (block == nullptr) return false;
    page_block_unmap(block, page_round_up(bytes, small_page));
    return true;
}

void ipv6_block_give(void* block, std::size_t bytes) noexcept
{
    if (bytes < huge_page) {
        ::operator delete(block);
    } else {
        page_block_unmap(block, page_round_up(bytes, small_page));
    }
}

} // namespace blockset
