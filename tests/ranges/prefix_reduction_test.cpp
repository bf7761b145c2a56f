#include "ranges/prefix_reduction.h"

#include <bit>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ranges/range_list.h"
#include "test_support.h"

namespace blockset {
namespace {

using testing::ip;
using testing::ranges;
using testing::span;

struct block {
    std::uint32_t address;
    unsigned length;
};

std::vector<block> planned_blocks(const ranges& items, const prefix_plan& plan, unsigned shortest)
{
    std::vector<block> blocks;
    for_each_planned_block(std::span<const ip_range>(items), plan, shortest,
                           [&](std::uint32_t address, unsigned length) { blocks.push_back({address, length}); });
    return blocks;
}

/// The fewest distinct lengths, and the fewest entries with them, found by trying every set of
/// the lengths that occur.
std::pair<unsigned, std::uint64_t> brute_force_best(const prefix_counts& counts, std::uint64_t most)
{
    std::vector<unsigned> present;
    for (unsigned length = 0; length <= 32; ++length)
        if (counts[length] != 0) present.push_back(length);
    std::pair<unsigned, std::uint64_t> best{99, 0};
    for (unsigned mask = 1; mask < (1u << present.size()); ++mask) {
        if ((mask >> (present.size() - 1) & 1) == 0) continue; // the longest must be written
        std::uint64_t entries = 0;
        for (std::size_t i = 0; i < present.size(); ++i) {
            std::size_t at = i;
            while ((mask >> at & 1) == 0) ++at;
            entries += counts[present[i]] << (present[at] - present[i]);
        }
        std::pair<unsigned, std::uint64_t> candidate{static_cast<unsigned>(std::popcount(mask)), entries};
        if (entries <= most && candidate < best) best = candidate;
    }
    return best;
}

TEST(entry_budget, reads_words_and_takes_the_larger_limit)
{
    struct row {
        std::vector<const char*> words;
        bool read;
        std::uint64_t plain, limit;
    };
    const row rows[] = {
        {{"20%"}, true, 406, 487},
        {{"20%", "16384"}, true, 406, 16384},
        {{"16384", "20%"}, true, 100000, 120000},
        {{"0"}, true, 406, 406},
        {{"4294967296"}, true, 1, 4294967296},
        {{"4294967297"}, false, 1, 1},
        {{""}, false, 5, 5},
        {{"%"}, false, 5, 5},
        {{"1.5%"}, false, 5, 5},
        {{"-1"}, false, 5, 5},
        {{" 5"}, false, 5, 5},
    };
    for (const row& r : rows) {
        entry_budget budget;
        bool read = true;
        for (const char* word : r.words) read = entry_budget_read(word, budget) && read;
        EXPECT_EQ(read, r.read) << r.words[0];
        EXPECT_EQ(entry_budget_limit(budget, r.plain), r.limit) << r.words[0];
    }
}

std::string every_address_of_10_0_0(const char* tail)
{
    std::string text;
    for (int i = 0; i < 256; ++i) text += "10.0.0." + std::to_string(i) + "/32\n";
    return text + tail;
}

TEST(prefix_reduction, writes_fewer_lengths_within_the_budget)
{
    struct row {
        const char* name;
        ranges list;
        std::uint64_t budget_entries;
        std::string expected;
    };
    const ranges pair_and_one{span("10.0.0.0", "10.0.0.1"), {ip("10.0.1.9"), ip("10.0.1.9")}};
    const row rows[] = {
        {"a /24 and a /32 join at /32 with room for 257", {span("10.0.0.0", "10.0.0.255"), span("10.0.1.9", "10.0.1.9")},
         257, every_address_of_10_0_0("10.0.1.9/32\n")},
        {"one entry short of that, both stay", {span("10.0.0.0", "10.0.0.255"), span("10.0.1.9", "10.0.1.9")}, 256,
         "10.0.0.0/24\n10.0.1.9/32\n"},
        {"a /31 and a /32 become three /32", pair_and_one, 3, "10.0.0.0/32\n10.0.0.1/32\n10.0.1.9/32\n"},
        {"the whole space stays /0", {{0, top_address}}, 100, "0.0.0.0/0\n"},
        {"empty", {}, 100, ""},
    };
    for (const row& r : rows) {
        range_list list = testing::list_of(r.list);
        entry_budget budget;
        budget.entries = r.budget_entries;
        testing::anonymous_file file;
        output_stream out(file.fd());
        range_list_write_reduced(out, list, budget);
        ASSERT_TRUE(out.flush());
        EXPECT_EQ(file.text(), r.expected) << r.name;
    }
}

TEST(prefix_reduction, ipset_blocks_split_the_whole_space_in_two)
{
    const ranges whole{{0, top_address}};
    std::vector<block> blocks = planned_blocks(whole, prefix_plan_plain(), 1);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].address, 0u);
    EXPECT_EQ(blocks[1].address, 0x80000000u);
    EXPECT_EQ(blocks[0].length + blocks[1].length, 2u);
    EXPECT_EQ(prefix_counts_of(whole, 1)[1], 2u);
}

/// Random sets: the reduced blocks cover exactly the plain listing's addresses, ascending,
/// within the budget, in the fewest lengths that a search of every choice finds.
TEST(prefix_reduction, random_sets_keep_their_addresses_in_the_fewest_lengths)
{
    std::mt19937 random(2026);
    for (int trial = 0; trial < 300; ++trial) {
        range_list list;
        int count = 1 + static_cast<int>(random() % 40);
        for (int i = 0; i < count; ++i) {
            std::uint32_t first = ip("10.0.0.0") + random() % 65536;
            std::uint32_t size = random() % 4 == 0 ? random() % 2048 : random() % 8;
            range_list_insert(list, {first, first + size});
        }
        ranges items = testing::ranges_of(list);
        unsigned shortest = trial % 2;
        prefix_counts counts = prefix_counts_of(items, shortest);
        std::uint64_t plain = prefix_plan_entries(counts, prefix_plan_plain());
        std::uint64_t most = plain + random() % (plain * 3 + 1);
        prefix_plan plan = prefix_plan_reduced(counts, most);
        std::vector<block> blocks = planned_blocks(items, plan, shortest);

        range_list rebuilt;
        std::set<unsigned> lengths;
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            const block& b = blocks[i];
            ASSERT_EQ(b.address & ~mask_table[b.length], 0u) << "unaligned block, trial " << trial;
            if (i > 0) {
                ASSERT_LT(blocks[i - 1].address, b.address) << "trial " << trial;
            }
            range_list_insert(rebuilt, {b.address, block_last_address(b.address, b.length)});
            lengths.insert(b.length);
        }
        ASSERT_EQ(testing::ranges_of(rebuilt), items) << "trial " << trial;
        EXPECT_EQ(prefix_plan_entries(counts, plan), blocks.size());
        auto [fewest, entries] = brute_force_best(counts, most);
        EXPECT_EQ(lengths.size(), fewest) << "trial " << trial;
        EXPECT_EQ(blocks.size(), entries) << "trial " << trial;
    }
}

} // namespace
} // namespace blockset
