// Randomised comparisons of the set operations and listings with a brute-force model: a
// bitmap over a small universe of addresses, plus one flag for every address outside it.
// The universes sit at both ends of the address space, where 0.0.0.0 and 255.255.255.255
// test every boundary guard. The seeds are fixed, so a failure repeats.

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "io/output_stream.h"
#include "ranges/cidr.h"
#include "ranges/listings.h"
#include "ranges/range_list.h"
#include "ranges/set_algebra.h"
#include "test_support.h"

namespace blockset {
namespace {

using testing::address_bitmap;
using testing::dotted;
using testing::listing_text;
using testing::ranges_of;

constexpr std::uint32_t universe_size = 512;

/// A random set of up to eight ranges inside the universe at base, added in random order, and
/// sometimes complemented so that it also holds everything outside.
std::pair<range_list, address_bitmap> random_set(std::uint32_t base, std::mt19937& random)
{
    range_list list;
    address_bitmap set(base, universe_size);
    unsigned count = random() % 9;
    for (unsigned n = 0; n < count; ++n) {
        unsigned first = random() % universe_size;
        unsigned length = random() % 4 == 0 ? universe_size : 1 + random() % 48;
        ip_range range{base + first, base + std::min(universe_size - 1, first + length - 1)};
        range_list_insert(list, range);
        set.add(range);
    }
    if (random() % 4 == 0) {
        range_list complement;
        range_list_complement(list, complement);
        return {std::move(complement), ~set};
    }
    return {std::move(list), set};
}

/// The fewest aligned blocks covering a set inside its universe, found by taking at each
/// member the largest block that is aligned there and holds only members.
std::size_t greedy_block_count(const address_bitmap& set)
{
    std::size_t count = 0;
    unsigned i = 0;
    while (i < set.size()) {
        if (!set[i]) {
            ++i;
            continue;
        }
        unsigned size = 1;
        for (unsigned wider = 2; wider <= set.size(); wider *= 2) {
            if (set.address(i) % wider != 0 || i + wider > set.size()) break;
            bool all_members = true;
            for (unsigned k = i; k < i + wider; ++k) all_members = all_members && set[k];
            if (!all_members) break;
            size = wider;
        }
        ++count;
        i += size;
    }
    return count;
}

struct cidr_block {
    std::uint32_t address;
    unsigned prefix;
};

std::vector<cidr_block> parse_cidr_lines(const std::string& text)
{
    std::vector<cidr_block> blocks;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        unsigned a, b, c, d, prefix;
        if (end == std::string::npos ||
            std::sscanf(text.substr(start, end - start).c_str(), "%u.%u.%u.%u/%u", &a, &b, &c, &d, &prefix) != 5) {
            ADD_FAILURE() << "malformed CIDR listing: " << text;
            return blocks;
        }
        blocks.push_back({(a << 24) | (b << 16) | (c << 8) | d, prefix});
        start = end + 1;
    }
    return blocks;
}

const std::uint32_t universe_bases[] = {0, top_address - universe_size + 1};
constexpr int rounds = 1500;

TEST(set_algebra_properties, operations_agree_with_the_model)
{
    for (std::uint32_t base : universe_bases) {
        std::mt19937 random(20240601 + base);
        for (int round = 0; round < rounds; ++round) {
            auto [a, model_a] = random_set(base, random);
            auto [b, model_b] = random_set(base, random);
            SCOPED_TRACE(::testing::Message() << "base " << base << ", round " << round);
            range_list result;
            EXPECT_EQ(ranges_of(range_list_union(a, b, result)), (model_a | model_b).as_ranges());
            EXPECT_EQ(ranges_of(range_list_intersection(a, b, result)), (model_a & model_b).as_ranges());
            EXPECT_EQ(ranges_of(range_list_difference(a, b, result)), (model_a - model_b).as_ranges());
            EXPECT_EQ(ranges_of(range_list_difference(b, a, result)), (model_b - model_a).as_ranges());
            EXPECT_EQ(ranges_of(range_list_complement(a, result)), (~model_a).as_ranges());
            // Operands may be one list.
            EXPECT_EQ(ranges_of(range_list_union(a, a, result)), model_a.as_ranges());
            EXPECT_EQ(ranges_of(range_list_intersection(a, a, result)), model_a.as_ranges());
            EXPECT_TRUE(ranges_of(range_list_difference(a, a, result)).empty());
            // The operands are unchanged.
            EXPECT_EQ(ranges_of(a), model_a.as_ranges());
            EXPECT_EQ(ranges_of(b), model_b.as_ranges());
        }
    }
}

TEST(set_algebra_properties, complement_of_complement_is_identity)
{
    for (std::uint32_t base : universe_bases) {
        std::mt19937 random(7 + base);
        for (int round = 0; round < rounds; ++round) {
            auto [a, model_a] = random_set(base, random);
            range_list once, twice;
            range_list_complement(range_list_complement(a, once), twice);
            EXPECT_EQ(ranges_of(twice), ranges_of(a)) << "base " << base << ", round " << round;
        }
    }
}

TEST(listings_properties, cidr_listing_is_the_fewest_aligned_blocks)
{
    for (std::uint32_t base : universe_bases) {
        std::mt19937 random(99 + base);
        for (int round = 0; round < rounds; ++round) {
            auto [a, model_a] = random_set(base, random);
            if (model_a.outside) continue;
            SCOPED_TRACE(::testing::Message() << "base " << base << ", round " << round);
            std::vector<cidr_block> blocks = parse_cidr_lines(listing_text(range_list_write_cidr, a));
            address_bitmap covered(base, universe_size);
            std::uint64_t previous_end = 0;
            for (const cidr_block& block : blocks) {
                ASSERT_LE(block.prefix, 32u);
                std::uint32_t last = block_last_address(block.address, block.prefix);
                EXPECT_EQ(block.address & ~mask_table[block.prefix], 0u) << "block not aligned";
                EXPECT_GE(block.address, previous_end) << "blocks out of order or overlapping";
                previous_end = std::uint64_t{last} + 1;
                ASSERT_TRUE(block.address - base < universe_size && last - base < universe_size) << "block outside the set";
                covered.add({block.address, last});
            }
            EXPECT_EQ(covered.as_ranges(), model_a.as_ranges());
            EXPECT_EQ(blocks.size(), greedy_block_count(model_a));
        }
    }
}

TEST(listings_properties, range_and_address_listings_agree_with_the_model)
{
    for (std::uint32_t base : universe_bases) {
        std::mt19937 random(5 + base);
        for (int round = 0; round < rounds / 5; ++round) {
            auto [a, model_a] = random_set(base, random);
            if (model_a.outside) continue;
            std::string expected_ranges, expected_addresses;
            for (const ip_range& range : model_a.as_ranges())
                expected_ranges += dotted(range.first) + "-" + dotted(range.last) + "\n";
            for (unsigned i = 0; i < universe_size; ++i)
                if (model_a[i]) expected_addresses += dotted(model_a.address(i)) + "\n";
            EXPECT_EQ(listing_text(range_list_write_ranges, a), expected_ranges);
            EXPECT_EQ(listing_text(range_list_write_addresses, a), expected_addresses);
        }
    }
}

} // namespace
} // namespace blockset
