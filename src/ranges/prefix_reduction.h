#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "ranges/cidr_walk.h"
#include "ranges/ip_range.h"

namespace blockset {

class output_stream;
struct range_list;

/// How many entries a reduced listing may take: the larger of `entries` and the plain CIDR
/// listing's count raised by `percent` per hundred, and never fewer than that count itself.
struct entry_budget {
    std::uint64_t percent = 0;
    std::uint64_t entries = 0;
};

/// Reads one budget word into budget: "N%" raises percent to N, "N" raises entries to N
/// (N decimal, at most 4294967296). False, with budget unchanged, for any other text.
bool entry_budget_read(std::string_view word, entry_budget& budget);
/// The most entries the budget allows a listing whose plain form has plain_entries blocks.
std::uint64_t entry_budget_limit(const entry_budget& budget, std::uint64_t plain_entries);

/// Blocks of each prefix length 0..32.
using prefix_counts = std::array<std::uint64_t, 33>;
/// For each prefix length, the length its blocks are written at: the same or a longer one.
using prefix_plan = std::array<unsigned char, 33>;

/// The blocks of each length in the fewest-blocks listing of ranges; with shortest_length 1,
/// the whole space counts as two /1 blocks.
prefix_counts prefix_counts_of(std::span<const ip_range> ranges, unsigned shortest_length);
/// The plan that writes every block at its own length.
prefix_plan prefix_plan_plain();
/// The plan with the fewest distinct lengths whose entries stay within most_entries, the
/// fewest entries among those; the plain plan when no plan fits.
prefix_plan prefix_plan_reduced(const prefix_counts& counts, std::uint64_t most_entries);
/// The entries a plan writes (saturating at the largest 64-bit number).
std::uint64_t prefix_plan_entries(const prefix_counts& counts, const prefix_plan& plan);

/// Calls block(address, prefix_length) for each block of the listing that covers exactly the
/// ranges with the plan's lengths, in ascending order: each block of the fewest-blocks
/// listing (the whole space as two /1 blocks when shortest_length is 1) split into the
/// blocks of the length the plan gives it.
template <typename on_block>
void for_each_planned_block(std::span<const ip_range> ranges, const prefix_plan& plan, unsigned shortest_length,
                            on_block block)
{
    auto split = [&](std::uint32_t address, unsigned length) {
        unsigned target = plan[length];
        if (target == 0) return block(address, 0u);
        const std::uint64_t count = std::uint64_t{1} << (target - length);
        const std::uint32_t step = std::uint32_t{1} << (32 - target);
        for (std::uint64_t i = 0; i < count; ++i) block(static_cast<std::uint32_t>(address + i * step), target);
    };
    for_each_cidr_block(ranges, [&](std::uint32_t address, unsigned length) {
        if (length < shortest_length) {
            split(0, 1);
            split(0x80000000u, 1);
        } else {
            split(address, length);
        }
    });
}

/// Writes the list as CIDR blocks, one "a.b.c.d/n" per line, in as few distinct prefix
/// lengths as the budget allows; the blocks cover exactly the list's addresses.
void range_list_write_reduced(output_stream& out, range_list& list, const entry_budget& budget);

} // namespace blockset
