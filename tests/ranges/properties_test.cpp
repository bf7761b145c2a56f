// Randomised comparisons of the set operations and listings with a brute-force model: a
// bitmap over a small universe of addresses, plus one flag for every address outside it.
// The universes sit at both ends of the address space, where 0.0.0.0 and 255.255.255.255
// test every boundary guard. The seeds are fixed, so a failure repeats.

#include <bitset>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "io/output_stream.h"
#include "ranges/listings.h"
#include "ranges/range_list.h"
#include "ranges/set_algebra.h"
#include "test_support.h"

namespace blockset {
namespace {

using testing::ranges_of;
using ranges = std::vector<ip_range>;

constexpr unsigned universe_size = 512;

struct model {
    std::bitset<universe_size> inside;
    bool outside = false;
};

model operator|(const model& a, const model& b) { return {a.inside | b.inside, a.outside || b.outside}; }
model operator&(const model& a, const model& b) { return {a.inside & b.inside, a.outside && b.outside}; }
model operator-(const model& a, const model& b) { return {a.inside & ~b.inside, a.outside && !b.outside}; }
model operator~(const model& a) { return {~a.inside, !a.outside}; }

/// A universe of universe_size addresses starting at base, at either end of the space.
class universe {
public:
    explicit universe(std::uint32_t base) : base_(base) {}

    std::uint32_t address(unsigned index) const { return base_ + index; }

    /// The model's set as maximal ranges, ascending.
    ranges ranges_of_model(const model& set) const
    {
        ranges out;
        auto add = [&out](std::uint32_t first, std::uint32_t last) {
            if (!out.empty() && out.back().last + 1 == first) {
                out.back().last = last;
            } else {
                out.push_back({first, last});
            }
        };
        if (base_ != 0 && set.outside) add(0, base_ - 1);
        for (unsigned i = 0; i < universe_size; ++i) {
            if (set.inside[i]) add(address(i), address(i));
        }
        if (base_ == 0 && set.outside) add(universe_size, top_address);
        return out;
    }

    /// A random set of up to eight ranges inside the universe, added in random order, and
    /// sometimes complemented so that it also holds everything outside.
    std::pair<range_list, model> random_set(std::mt19937& random) const
    {
        range_list list;
        model set;
        unsigned count = random() % 9;
        for (unsigned n = 0; n < count; ++n) {
            unsigned first = random() % universe_size;
            unsigned length = random() % 4 == 0 ? universe_size : 1 + random() % 48;
            unsigned last = std::min(universe_size - 1, first + length - 1);
            range_list_add_range(list, address(first), address(last));
            for (unsigned i = first; i <= last; ++i) set.inside[i] = true;
        }
        if (random() % 4 == 0) {
            range_list complement;
            range_list_complement(list, complement);
            return {std::move(complement), ~set};
        }
        return {std::move(list), set};
    }

    /// The fewest aligned blocks covering a set inside the universe, found by taking at
    /// each member the largest block that is aligned there and holds only members.
    std::size_t greedy_block_count(const model& set) const
    {
        std::size_t count = 0;
        unsigned i = 0;
        while (i < universe_size) {
            if (!set.inside[i]) {
                ++i;
                continue;
            }
            unsigned size = 1;
            for (unsigned wider = 2; wider <= universe_size; wider *= 2) {
                if (address(i) % wider != 0 || i + wider > universe_size) break;
                bool all_members = true;
                for (unsigned k = i; k < i + wider; ++k) all_members = all_members && set.inside[k];
                if (!all_members) break;
                size = wider;
            }
            ++count;
            i += size;
        }
        return count;
    }

    bool contains(std::uint32_t address) const { return address - base_ < universe_size; }
    unsigned index(std::uint32_t address) const { return address - base_; }

private:
    std::uint32_t base_;
};

/// What a listing writes for the list, read back through a pipe (outputs here are small).
std::string listing_text(void (*write)(output_stream&, range_list&), range_list& list)
{
    int ends[2];
    if (::pipe(ends) != 0) std::abort();
    {
        output_stream out(ends[1]);
        write(out, list);
        out.flush();
    }
    ::close(ends[1]);
    std::string text;
    char chunk[4096];
    ssize_t got;
    while ((got = ::read(ends[0], chunk, sizeof chunk)) > 0) text.append(chunk, static_cast<std::size_t>(got));
    ::close(ends[0]);
    return text;
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
        universe space(base);
        std::mt19937 random(20240601 + base);
        for (int round = 0; round < rounds; ++round) {
            auto [a, model_a] = space.random_set(random);
            auto [b, model_b] = space.random_set(random);
            SCOPED_TRACE(::testing::Message() << "base " << base << ", round " << round);
            range_list result;
            EXPECT_EQ(ranges_of(range_list_union(a, b, result)), space.ranges_of_model(model_a | model_b));
            EXPECT_EQ(ranges_of(range_list_intersection(a, b, result)),
                      space.ranges_of_model(model_a & model_b));
            EXPECT_EQ(ranges_of(range_list_difference(a, b, result)), space.ranges_of_model(model_a - model_b));
            EXPECT_EQ(ranges_of(range_list_difference(b, a, result)), space.ranges_of_model(model_b - model_a));
            EXPECT_EQ(ranges_of(range_list_complement(a, result)), space.ranges_of_model(~model_a));
            // Operands may be one list.
            EXPECT_EQ(ranges_of(range_list_union(a, a, result)), space.ranges_of_model(model_a));
            EXPECT_EQ(ranges_of(range_list_intersection(a, a, result)), space.ranges_of_model(model_a));
            EXPECT_TRUE(ranges_of(range_list_difference(a, a, result)).empty());
            // The operands are unchanged.
            EXPECT_EQ(ranges_of(a), space.ranges_of_model(model_a));
            EXPECT_EQ(ranges_of(b), space.ranges_of_model(model_b));
        }
    }
}

TEST(set_algebra_properties, complement_of_complement_is_identity)
{
    for (std::uint32_t base : universe_bases) {
        universe space(base);
        std::mt19937 random(7 + base);
        for (int round = 0; round < rounds; ++round) {
            auto [a, model_a] = space.random_set(random);
            range_list once, twice;
            range_list_complement(range_list_complement(a, once), twice);
            EXPECT_EQ(ranges_of(twice), ranges_of(a)) << "base " << base << ", round " << round;
        }
    }
}

TEST(listings_properties, cidr_listing_is_the_fewest_aligned_blocks)
{
    for (std::uint32_t base : universe_bases) {
        universe space(base);
        std::mt19937 random(99 + base);
        for (int round = 0; round < rounds; ++round) {
            auto [a, model_a] = space.random_set(random);
            if (model_a.outside) continue;
            SCOPED_TRACE(::testing::Message() << "base " << base << ", round " << round);
            std::vector<cidr_block> blocks = parse_cidr_lines(listing_text(range_list_write_cidr, a));
            model covered;
            std::uint64_t previous_end = 0;
            for (const cidr_block& block : blocks) {
                ASSERT_LE(block.prefix, 32u);
                std::uint32_t last = block_last_address(block.address, block.prefix);
                EXPECT_EQ(block.address & ~mask_table[block.prefix], 0u) << "block not aligned";
                EXPECT_GE(block.address, previous_end) << "blocks out of order or overlapping";
                previous_end = std::uint64_t{last} + 1;
                ASSERT_TRUE(space.contains(block.address) && space.contains(last));
                for (unsigned i = space.index(block.address); i <= space.index(last); ++i) covered.inside[i] = true;
            }
            EXPECT_EQ(covered.inside, model_a.inside);
            EXPECT_EQ(blocks.size(), space.greedy_block_count(model_a));
        }
    }
}

TEST(listings_properties, range_and_address_listings_agree_with_the_model)
{
    for (std::uint32_t base : universe_bases) {
        universe space(base);
        std::mt19937 random(5 + base);
        for (int round = 0; round < rounds / 5; ++round) {
            auto [a, model_a] = space.random_set(random);
            if (model_a.outside) continue;
            std::string expected_ranges, expected_addresses;
            char line[40];
            for (const ip_range& range : space.ranges_of_model(model_a)) {
                std::snprintf(line, sizeof line, "%u.%u.%u.%u-%u.%u.%u.%u\n", range.first >> 24,
                              range.first >> 16 & 0xFF, range.first >> 8 & 0xFF, range.first & 0xFF,
                              range.last >> 24, range.last >> 16 & 0xFF, range.last >> 8 & 0xFF,
                              range.last & 0xFF);
                expected_ranges += line;
            }
            for (unsigned i = 0; i < universe_size; ++i) {
                if (!model_a.inside[i]) continue;
                std::uint32_t address = space.address(i);
                std::snprintf(line, sizeof line, "%u.%u.%u.%u\n", address >> 24, address >> 16 & 0xFF,
                              address >> 8 & 0xFF, address & 0xFF);
                expected_addresses += line;
            }
            EXPECT_EQ(listing_text(range_list_write_ranges, a), expected_ranges);
            EXPECT_EQ(listing_text(range_list_write_addresses, a), expected_addresses);
        }
    }
}

} // namespace
} // namespace blockset
