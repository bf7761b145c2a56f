#include "ranges/range_lookup.h"

#include <memory>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

namespace blockset {
namespace {

using testing::ip;

// The index and the batched lookups answer as the one binary search does, which a brute
// force over the ranges checks in turn.
TEST(range_lookup, index_answers_as_the_plain_search)
{
    std::mt19937 random(7);
    for (int round = 0; round < 40; ++round) {
        // Few wide ranges in some rounds, many narrow ones (several to a slice) in others.
        const unsigned count = round % 4 == 0 ? random() % 3 : random() % 1500;
        const unsigned width = round % 2 == 0 ? 1u << 24 : 64;
        range_list list;
        for (unsigned i = 0; i < count; ++i) {
            std::uint32_t first = static_cast<std::uint32_t>(random());
            std::uint32_t last = first > 0xFFFFFFFFu - width ? 0xFFFFFFFFu : first + random() % width;
            range_list_insert(list, {first, last});
        }
        if (round == 1) range_list_insert(list, {0, 0xFFFFFFFFu});
        auto ranges = range_list_view(list);
        range_index index = range_index_build(ranges);
        std::vector<std::uint32_t> addresses = {0, 0xFFFFFFFFu, ip("128.0.0.0")};
        for (const ip_range& range : ranges) {
            for (std::uint32_t edge : {range.first, range.last}) addresses.push_back(edge);
            if (range.first > 0) addresses.push_back(range.first - 1);
            if (range.last < 0xFFFFFFFFu) addresses.push_back(range.last + 1);
        }
        for (int i = 0; i < 1000; ++i) addresses.push_back(static_cast<std::uint32_t>(random()));
        std::vector<bool> expected;
        for (std::uint32_t address : addresses) {
            bool held = false;
            for (const ip_range& range : ranges) held = held || (range.first <= address && address <= range.last);
            ASSERT_EQ(ranges_hold(ranges, address), held) << testing::dotted(address);
            ASSERT_EQ(range_index_holds(index, address), held) << testing::dotted(address);
            expected.push_back(held);
        }
        std::unique_ptr<bool[]> batch(new bool[addresses.size()]);
        range_index_holds_each(index, addresses, {batch.get(), addresses.size()});
        for (std::size_t i = 0; i < addresses.size(); ++i) ASSERT_EQ(batch[i], expected[i]) << i;
    }
}

TEST(range_lookup, ipv6_ranges)
{
    const ipv6_range ranges[] = {{10, 20}, {30, 30}, {ipv6_top_address - 1, ipv6_top_address}};
    const struct {
        ipv6_address address;
        bool held;
    } cases[] = {{0, false}, {9, false}, {10, true}, {20, true}, {21, false}, {30, true}, {31, false},
                 {ipv6_top_address - 2, false}, {ipv6_top_address, true}};
    for (const auto& row : cases) EXPECT_EQ(ranges_hold(std::span<const ipv6_range>(ranges), row.address), row.held);
}

} // namespace
} // namespace blockset
