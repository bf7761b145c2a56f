#include "ranges/ipv6_list.h"

#include <algorithm>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace blockset {
namespace {

using ranges = std::vector<ipv6_range>;
constexpr ipv6_address top = ipv6_top_address;
constexpr ipv6_address two_64 = ipv6_address{1} << 64;

ipv6_list list_of(const ranges& items)
{
    ipv6_list list;
    for (const ipv6_range& range : items) ipv6_list_insert(list, range);
    return list;
}

/// The list's ranges as its view shows them (a copy: the view merges pending additions).
ranges view_of(ipv6_list list)
{
    auto view = ipv6_list_view(list);
    return {view.begin(), view.end()};
}

TEST(ipv6_list, insert_keeps_the_ranges_sorted_disjoint_and_non_adjacent)
{
    const struct {
        const char* name;
        ranges added, expected;
    } cases[] = {
        {"tail append", {{1, 2}, {4, 5}}, {{1, 2}, {4, 5}}},
        {"touching tail extends", {{1, 2}, {3, 5}}, {{1, 5}}},
        {"overlap extends", {{1, 9}, {3, 5}, {4, 12}}, {{1, 12}}},
        {"out of order", {{20, 30}, {1, 2}, {10, 12}, {3, 9}}, {{1, 12}, {20, 30}}},
        {"out of order touching at 2^64", {{two_64, two_64 + 5}, {0, two_64 - 1}}, {{0, two_64 + 5}}},
        {"reversed adds nothing", {{5, 4}, {1, 1}}, {{1, 1}}},
        {"the top has no successor", {{top, top}, {top - 1, top - 1}, {0, 0}}, {{0, 0}, {top - 1, top}}},
        {"after the whole space", {{0, top}, {top, top}, {7, 8}}, {{0, top}}},
    };
    for (const auto& row : cases) EXPECT_TRUE(view_of(list_of(row.added)) == row.expected) << row.name;
}

TEST(ipv6_list, many_shuffled_additions_merge_to_the_sorted_set)
{
    // Halves of blocks, shuffled, read once after some of them: the halves added after the read
    // merge with the ranges already merged and join the halves they touch.
    ranges halves, blocks;
    for (ipv6_address n = 0; n < 40000; ++n) {
        const ipv6_address first = n * 8 * two_64;
        halves.push_back({first, first + two_64 - 1});
        halves.push_back({first + two_64, first + 2 * two_64 - 1});
        blocks.push_back({first, first + 2 * two_64 - 1});
    }
    std::shuffle(halves.begin(), halves.end(), std::mt19937(23));
    for (const std::size_t read_after : {std::size_t{0}, std::size_t{1000}, std::size_t{40000}, halves.size()}) {
        ipv6_list list;
        for (std::size_t i = 0; i != halves.size(); ++i) {
            if (i == read_after) ipv6_list_view(list);
            ipv6_list_insert(list, halves[i]);
        }
        EXPECT_TRUE(view_of(list) == blocks) << read_after;
    }
    // The halves after the first ones, merged apart and added as one sorted run.
    for (const std::size_t run_start : {std::size_t{0}, std::size_t{1000}, halves.size() / 2}) {
        ipv6_list list = list_of({halves.begin(), halves.begin() + static_cast<std::ptrdiff_t>(run_start)});
        ranges run(halves.begin() + static_cast<std::ptrdiff_t>(run_start), halves.end());
        run.resize(ipv6_ranges_merge_in_place(run));
        ipv6_list_insert_sorted(list, run);
        EXPECT_TRUE(view_of(list) == blocks) << run_start;
    }
}

TEST(ipv6_list, operations_on_the_edges)
{
    const ranges none, whole{{0, top}}, edges{{0, 0}, {top, top}}, middle{{1, top - 1}};
    const ranges split{{5, 9}, {two_64, top}};
    const struct {
        ranges a, b, united, common, a_minus_b, not_a;
    } cases[] = {
        {none, whole, whole, none, none, whole},
        {whole, edges, whole, edges, middle, none},
        {edges, middle, whole, none, edges, middle},
        {split, middle, {{1, top}}, {{5, 9}, {two_64, top - 1}}, {{top, top}}, {{0, 4}, {10, two_64 - 1}}},
        {{{0, two_64 - 1}}, {{two_64, top}}, whole, none, {{0, two_64 - 1}}, {{two_64, top}}},
        {split, split, split, split, none, {{0, 4}, {10, two_64 - 1}}},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(&row - cases);
        ipv6_list a = list_of(row.a), b = list_of(row.b), result;
        EXPECT_TRUE(view_of(ipv6_list_union(a, b, result)) == row.united);
        EXPECT_TRUE(view_of(ipv6_list_intersection(a, b, result)) == row.common);
        EXPECT_TRUE(view_of(ipv6_list_difference(a, b, result)) == row.a_minus_b);
        EXPECT_TRUE(view_of(ipv6_list_complement(a, result)) == row.not_a);
    }
}

// The model of a set is the ranges as they were added, unmerged: an address is in the set
// when some range holds it. Membership of any of the sets changes only at a range's ends, so
// two sets that agree at every end of every range involved, and next to it, are equal.

bool model_holds(const ranges& added, ipv6_address address)
{
    return std::any_of(added.begin(), added.end(),
                       [address](const ipv6_range& range) { return range.first <= address && address <= range.last; });
}

/// Up to seven ranges with ends near both ends of the space, its middle and 2^64 (carries).
ranges random_ranges(std::mt19937_64& random)
{
    const ipv6_address anchors[] = {0, two_64 - 32, ipv6_address{1} << 127, top - 63};
    auto address = [&] { return anchors[random() % 4] + random() % 64; };
    ranges added;
    for (unsigned n = random() % 8; n > 0; --n) {
        ipv6_address a = address(), b = address();
        added.push_back({std::min(a, b), std::max(a, b)});
    }
    return added;
}

TEST(ipv6_list, operations_agree_with_a_model)
{
    std::mt19937_64 random(128);
    for (int round = 0; round < 3000; ++round) {
        ranges a_added = random_ranges(random), b_added = random_ranges(random);
        ipv6_list a = list_of(a_added), b = list_of(b_added), lists[4];
        const ranges results[] = {view_of(ipv6_list_union(a, b, lists[0])),
                                  view_of(ipv6_list_intersection(a, b, lists[1])),
                                  view_of(ipv6_list_difference(a, b, lists[2])),
                                  view_of(ipv6_list_complement(a, lists[3]))};
        std::vector<ipv6_address> probes{0, top};
        for (const ranges& items : {a_added, b_added, results[0], results[1], results[2], results[3]}) {
            for (std::size_t i = 0; i < items.size(); ++i) {
                for (ipv6_address end : {items[i].first, items[i].last}) probes.insert(probes.end(), {end - 1, end, end + 1});
            }
        }
        for (const ranges& result : results) {
            // Sorted, disjoint and non-adjacent: a range ending at the top is the last.
            for (std::size_t i = 1; i < result.size(); ++i) {
                ASSERT_TRUE(result[i - 1].last < top && result[i - 1].last + 1 < result[i].first) << round;
            }
        }
        for (ipv6_address x : probes) {
            bool in_a = model_holds(a_added, x), in_b = model_holds(b_added, x);
            ASSERT_EQ(model_holds(results[0], x), in_a || in_b) << round;
            ASSERT_EQ(model_holds(results[1], x), in_a && in_b) << round;
            ASSERT_EQ(model_holds(results[2], x), in_a && !in_b) << round;
            ASSERT_EQ(model_holds(results[3], x), !in_a) << round;
        }
    }
}

} // namespace
} // namespace blockset
