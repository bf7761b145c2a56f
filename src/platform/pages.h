#pragma once
#include <cstddef>

namespace blockset {

// Blocks of memory taken straight from the system's virtual memory, for large range lists.
// The only code that speaks to the virtual memory system, and the only memory code that
// differs between the systems we build for. Linux moves pages with mremap and takes huge page
// advice; elsewhere (and on Linux when built with BLOCKSET_PORTABLE_PAGES) a block grows by
// copying and its pages are given back with MADV_FREE where the system has it.

constexpr std::size_t small_page = 4096;
/// The size of a transparent huge page (Linux) or superpage (FreeBSD) on x86-64.
constexpr std::size_t huge_page = std::size_t{1} << 21;

/// Rounds bytes up to a multiple of unit, a power of two.
constexpr std::size_t page_round_up(std::size_t bytes, std::size_t unit) { return (bytes + unit - 1) & ~(unit - 1); }

/// Maps a block of bytes (a multiple of small_page), readable and writable, zero-filled;
/// from huge_page up it starts at a huge page boundary. Null when the system refuses.
void* page_block_map(std::size_t bytes);
/// Returns a block to the system.
void page_block_unmap(void* block, std::size_t bytes);
/// Moves the first held bytes of from, the start of a mapped block, to the start of to, in
/// another mapped block, and returns them from from's block to the system. Where the system
/// can (page_block_moves_pages), it moves the pages, resident as they are, rather than their
/// contents. False when it fails; both blocks are then as they were.
bool page_block_move(void* from, std::size_t held, void* to);
/// Whether page_block_move moves pages rather than copying on this system.
bool page_block_moves_pages();
/// Asks for huge pages in part of a block, where the system takes such a request.
void page_block_prefer_huge_pages(void* start, std::size_t bytes);
/// Makes part of a block unreachable: a touch there ends the run (a stack's guard page).
void page_block_guard(void* start, std::size_t bytes);
/// Gives the pages of part of a block back to the system; their contents are lost.
void page_block_discard(void* start, std::size_t bytes);

} // namespace blockset
