#include "ranges/list_comparison.h"

#include <cstdint>
#include <random>
#include <span>
#include <vector>

#include <gtest/gtest.h>

#include "ranges/range_list.h"
#include "test_support.h"

namespace blockset {
namespace {

using testing::list_of;
using testing::ranges;

address_count count_of(std::uint64_t n) { return {n, false}; }

/// Every figure of the comparison, counted address by address from base on, over the 76
/// addresses that lists made by the test below can reach.
void check_against_model(std::vector<range_list>& lists, std::uint32_t base)
{
    std::vector<std::span<const ip_range>> views;
    for (range_list& list : lists) views.push_back(range_list_view(list));
    list_comparison got = compare_ipv4_lists(views);
    std::size_t n = lists.size();
    std::vector<std::uint64_t> addresses(n), only(n), common(n * n);
    std::uint64_t in_union = 0, union_ranges = 0;
    bool previous = false;
    for (std::uint64_t a = base; a < std::uint64_t{base} + 76 && a <= top_address; ++a) {
        std::vector<std::size_t> holders;
        for (std::size_t i = 0; i < n; ++i)
            for (const ip_range& r : views[i])
                if (r.first <= a && a <= r.last) holders.push_back(i);
        for (std::size_t i : holders) {
            ++addresses[i];
            for (std::size_t j : holders) ++common[i * n + j];
        }
        if (holders.size() == 1) ++only[holders[0]];
        in_union += !holders.empty();
        union_ranges += !holders.empty() && !previous;
        previous = !holders.empty();
    }
    for (std::size_t i = 0; i < n; ++i) {
        EXPECT_EQ(got.ranges[i], views[i].size());
        EXPECT_EQ(got.addresses[i], count_of(addresses[i]));
        EXPECT_EQ(got.only_here[i], count_of(only[i]));
        for (std::size_t j = 0; j < n; ++j) EXPECT_EQ(got.shared(i, j), count_of(common[i * n + j])) << i << "," << j;
    }
    EXPECT_EQ(got.union_addresses, count_of(in_union));
    EXPECT_EQ(got.union_ranges, union_ranges);
}

TEST(list_comparison, random_lists_match_counting_each_address)
{
    std::mt19937 random(33);
    // At the bottom and at the top of the space, where the sweep must not step past the end.
    for (std::uint32_t base : {0u, top_address - 63}) {
        for (int round = 0; round < 300; ++round) {
            std::vector<range_list> lists(1 + random() % 5);
            for (range_list& list : lists) {
                ranges items;
                for (unsigned k = random() % 6; k > 0; --k) {
                    std::uint32_t first = base + random() % 64;
                    items.push_back({first, first + std::min<std::uint32_t>(random() % 12, top_address - first)});
                }
                list = list_of(items);
            }
            check_against_model(lists, base);
        }
    }
}

TEST(list_comparison, counts_blocks_and_the_union)
{
    // 10-20 and 21-30 of two lists touch: the union is one range 10-30.
    range_list a = list_of({{10, 20}, {40, 40}});
    range_list b = list_of({{21, 30}});
    std::vector<std::span<const ip_range>> views{range_list_view(a), range_list_view(b)};
    list_comparison got = compare_ipv4_lists(views);
    EXPECT_EQ(got.blocks, (std::vector<std::uint64_t>{5, 5}));
    EXPECT_EQ(got.union_ranges, 2u);
    EXPECT_EQ(got.union_blocks, 7u); // six blocks cover 10-30, one 40
    EXPECT_EQ(got.shared(0, 1), count_of(0));
}

TEST(list_comparison, whole_ipv6_space_is_counted_exactly)
{
    std::vector<ipv6_range> everything{{0, ipv6_top_address}};
    std::vector<ipv6_range> one{{5, 5}};
    std::vector<std::span<const ipv6_range>> views{everything, everything, one, {}};
    list_comparison got = compare_ipv6_lists(views);
    address_count whole{0, true};
    EXPECT_EQ(got.addresses[0], whole);
    EXPECT_EQ(got.shared(0, 1), whole);
    EXPECT_EQ(got.shared(0, 2), count_of(1));
    EXPECT_EQ(got.only_here[0], count_of(0));
    EXPECT_EQ(got.union_addresses, whole);
    EXPECT_EQ(got.union_blocks, 1u);
    EXPECT_EQ(got.addresses[3], count_of(0));
    EXPECT_EQ(address_count_text(whole), "340282366920938463463374607431768211456");
    EXPECT_EQ(address_count_grouped(count_of(199313)), "199,313");
}

TEST(address_count, scaled_comparison_is_exact_up_to_the_whole_space)
{
    address_count whole{0, true};
    address_count almost{ipv6_top_address, false};
    EXPECT_TRUE(address_count_scaled_less(almost, 100, whole, 100));
    EXPECT_FALSE(address_count_scaled_less(whole, 50, whole, 50));
    EXPECT_TRUE(address_count_scaled_less(count_of(49), 100, count_of(100), 50));
    EXPECT_FALSE(address_count_scaled_less(count_of(50), 100, count_of(100), 50));
    EXPECT_FALSE(address_count_scaled_less(whole, 100, almost, 100));
}

} // namespace
} // namespace blockset
