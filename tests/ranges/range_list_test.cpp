#include "ranges/range_list.h"

#include <algorithm>
#include <random>

#include <gtest/gtest.h>

#include "test_support.h"

namespace blockset {
namespace {

using testing::address_bitmap;
using testing::ip;
using testing::list_of;
using testing::ranges;
using testing::ranges_of;

TEST(range_list, worked_example_keeps_invariant_form)
{
    range_list list;
    range_list_add_cidr(list, ip("192.168.0.0"), 24);
    EXPECT_EQ(ranges_of(list), (ranges{{ip("192.168.0.0"), ip("192.168.0.255")}}));
    range_list_add_range(list, ip("192.168.1.0"), ip("192.168.1.10"));
    EXPECT_EQ(ranges_of(list), (ranges{{ip("192.168.0.0"), ip("192.168.1.10")}}));
    range_list_add_cidr(list, ip("192.168.1.12"), 32);
    EXPECT_EQ(ranges_of(list), (ranges{{ip("192.168.0.0"), ip("192.168.1.10")},
                                       {ip("192.168.1.12"), ip("192.168.1.12")}}));
    range_list_add_cidr(list, ip("10.0.0.0"), 8);
    EXPECT_EQ(ranges_of(list), (ranges{{ip("10.0.0.0"), ip("10.255.255.255")},
                                       {ip("192.168.0.0"), ip("192.168.1.10")},
                                       {ip("192.168.1.12"), ip("192.168.1.12")}}));
    range_list_add_cidr(list, ip("192.168.1.11"), 32);
    EXPECT_EQ(ranges_of(list), (ranges{{ip("10.0.0.0"), ip("10.255.255.255")},
                                       {ip("192.168.0.0"), ip("192.168.1.12")}}));
    range_list_add_cidr(list, ip("10.1.2.3"), 16);
    EXPECT_EQ(ranges_of(list), (ranges{{ip("10.0.0.0"), ip("10.255.255.255")},
                                       {ip("192.168.0.0"), ip("192.168.1.12")}}));
}

struct insertion_case {
    ip_range added;
    ranges expected;
};

TEST(range_list, insertion_into_ten_thirty_fifty)
{
    const insertion_case cases[] = {
        {{5, 35}, {{5, 40}, {50, 60}}},
        {{15, 25}, {{10, 25}, {30, 40}, {50, 60}}},
        {{21, 29}, {{10, 40}, {50, 60}}},
        {{22, 27}, {{10, 20}, {22, 27}, {30, 40}, {50, 60}}},
        {{0, 8}, {{0, 8}, {10, 20}, {30, 40}, {50, 60}}},
        {{5, top_address}, {{5, top_address}}},
        {{10, 15}, {{10, 20}, {30, 40}, {50, 60}}},
        {{30, 45}, {{10, 20}, {30, 45}, {50, 60}}},
        {{55, 58}, {{10, 20}, {30, 40}, {50, 60}}},
        {{61, 70}, {{10, 20}, {30, 40}, {50, 70}}},
        {{62, 70}, {{10, 20}, {30, 40}, {50, 60}, {62, 70}}},
        {{9, 9}, {{9, 20}, {30, 40}, {50, 60}}},
        {{0, top_address}, {{0, top_address}}},
        {{20, 10}, {{10, 20}, {30, 40}, {50, 60}}},
    };
    for (const insertion_case& c : cases) {
        range_list list = list_of({{10, 20}, {30, 40}, {50, 60}});
        range_list_insert(list, c.added);
        EXPECT_EQ(ranges_of(list), c.expected) << c.added.first << "-" << c.added.last;
    }
}

TEST(range_list, edge_cases_at_the_ends_and_in_order)
{
    struct sequence_case {
        ranges added;
        ranges expected;
    };
    const sequence_case cases[] = {
        {{{10, 20}, {21, 30}}, {{10, 30}}},
        {{{10, 20}, {22, 30}}, {{10, 20}, {22, 30}}},
        {{{10, 20}, {10, 25}}, {{10, 25}}},
        {{{30, 40}, {10, 20}, {10, 25}}, {{10, 25}, {30, 40}}},
        {{{10, 20}, {12, 14}}, {{10, 20}}},
        {{{10, 20}, {30, 40}, {12, 14}}, {{10, 20}, {30, 40}}},
        {{{10, 20}, {0, top_address}, {5, 7}}, {{0, top_address}}},
        {{{100, top_address}, {200, 300}, {top_address, top_address}}, {{100, top_address}}},
        {{{top_address - 5, top_address}, {0, 0}}, {{0, 0}, {top_address - 5, top_address}}},
        {{{5, 4}}, {}},
        {{{0, 0}, {1, 1}}, {{0, 1}}},
    };
    for (const sequence_case& c : cases) {
        range_list list = list_of(c.added);
        EXPECT_EQ(ranges_of(list), c.expected);
    }
}

TEST(range_list, cidr_blocks_keep_host_bits)
{
    range_list list;
    range_list_add_cidr(list, ip("10.1.2.3"), 16);
    EXPECT_EQ(ranges_of(list), (ranges{{ip("10.1.2.3"), ip("10.1.255.255")}}));
    range_list other;
    range_list_add_cidr(other, ip("0.0.0.0"), 0);
    EXPECT_EQ(ranges_of(other), (ranges{{0, top_address}}));
    range_list single;
    range_list_add_cidr(single, ip("1.2.3.4"), 32);
    EXPECT_EQ(ranges_of(single), (ranges{{ip("1.2.3.4"), ip("1.2.3.4")}}));
    range_list from_middle;
    range_list_add_cidr(from_middle, ip("10.0.0.5"), 0);
    EXPECT_EQ(ranges_of(from_middle), (ranges{{ip("10.0.0.5"), top_address}}));
}

TEST(range_list, copy_replaces_the_target)
{
    range_list source = list_of({{1, 2}, {5, 6}});
    range_list target = list_of({{100, 200}});
    range_list_copy(source, target);
    EXPECT_EQ(ranges_of(target), (ranges{{1, 2}, {5, 6}}));
    EXPECT_EQ(ranges_of(source), (ranges{{1, 2}, {5, 6}}));
    range_list empty;
    range_list_copy(empty, target);
    EXPECT_TRUE(ranges_of(target).empty());
}

TEST(range_list, clear_empties_a_list_that_can_be_filled_again)
{
    range_list list = list_of({{30, 40}, {1, 2}});
    range_list_clear(list);
    EXPECT_TRUE(ranges_of(list).empty());
    range_list_insert(list, {50, 60});
    range_list_insert(list, {10, 20});
    EXPECT_EQ(ranges_of(list), (ranges{{10, 20}, {50, 60}}));
}

TEST(range_list, append_adds_ranges_in_invariant_form)
{
    const struct {
        ranges list;
        ranges appended;
        ranges expected;
    } cases[] = {
        {{}, {{1, 2}, {5, 6}}, {{1, 2}, {5, 6}}},
        {{{10, 20}}, {{30, 40}, {50, 60}}, {{10, 20}, {30, 40}, {50, 60}}},
        {{{10, 20}}, {{21, 22}, {24, 25}}, {{10, 22}, {24, 25}}},
        {{{10, 100}}, {{15, 20}, {30, 40}, {101, 101}, {200, 300}}, {{10, 101}, {200, 300}}},
        {{{50, 60}, {10, 20}}, {{70, 80}}, {{10, 20}, {50, 60}, {70, 80}}},
        {{{50, 60}}, {{0, 5}, {40, 49}, {90, 95}}, {{0, 5}, {40, 60}, {90, 95}}},
        {{{10, top_address}}, {{20, 30}, {top_address, top_address}}, {{10, top_address}}},
    };
    for (const auto& c : cases) {
        range_list list = list_of(c.list);
        range_list_append(list, c.appended);
        EXPECT_EQ(ranges_of(list), c.expected);
    }
}

TEST(range_list, copy_into_a_list_of_about_the_same_size)
{
    ranges source_ranges;
    for (std::uint32_t i = 0; i < 30000; ++i) source_ranges.push_back({4 * i, 4 * i + 1});
    range_list source = list_of(source_ranges);
    range_list target;
    for (std::uint32_t i = 0; i < 40000; ++i) range_list_insert(target, {3 * i + 1000000, 3 * i + 1000001});
    range_list_copy(source, target);
    EXPECT_EQ(ranges_of(target), source_ranges);
    range_list_insert(target, {top_address, top_address});
    EXPECT_EQ(ranges_of(source), source_ranges) << "the copy shares nothing with its source";
}

TEST(range_list, copy_takes_the_merged_form_of_unordered_additions)
{
    range_list source = list_of({{50, 60}, {10, 20}, {21, 49}, {70, 70}});
    range_list target;
    range_list_copy(source, target);
    EXPECT_EQ(ranges_of(target), (ranges{{10, 60}, {70, 70}}));
    range_list_insert(target, {0, 5});
    EXPECT_EQ(ranges_of(target), (ranges{{0, 5}, {10, 60}, {70, 70}}));
    EXPECT_EQ(ranges_of(source), (ranges{{10, 60}, {70, 70}})) << "the copy shares nothing with its source";
}

TEST(range_list, any_order_of_additions_gives_the_same_list)
{
    std::mt19937 random(12345);
    for (int round = 0; round < 50; ++round) {
        std::vector<ip_range> added;
        int count = 1 + static_cast<int>(random() % 300);
        for (int i = 0; i < count; ++i) {
            std::uint32_t first = random() % 2000;
            if (round % 2 == 1) first = top_address - first;
            std::uint32_t length = random() % 20;
            std::uint32_t last = round % 2 == 1 ? std::min<std::uint64_t>(top_address, std::uint64_t{first} + length)
                                                : first + length;
            added.push_back({first, last});
        }
        address_bitmap model(round % 2 == 1 ? top_address - 3999 : 0, 4000);
        for (const ip_range& r : added) model.add(r);
        const ranges expected = model.as_ranges();
        for (int order = 0; order < 3; ++order) {
            if (order == 1) std::sort(added.begin(), added.end(), [](auto a, auto b) { return a.first < b.first; });
            if (order == 2) std::shuffle(added.begin(), added.end(), random);
            range_list list;
            // Read in the middle too: pending additions must merge into an already merged list.
            for (std::size_t i = 0; i < added.size(); ++i) {
                range_list_insert(list, added[i]);
                if (i == added.size() / 2) range_list_view(list);
            }
            EXPECT_EQ(ranges_of(list), expected) << "round " << round << " order " << order;
        }
    }
}

struct late_case {
    const char* name;
    ranges additions; // made after the long list has been merged
};

class late_additions : public ::testing::TestWithParam<late_case> {};

TEST_P(late_additions, few_additions_below_the_end_merge_into_a_long_list)
{
    // A long merged list of the even addresses 100, 102, ..., 298 (100 single ranges).
    range_list list;
    address_bitmap model(0, 1000);
    for (std::uint32_t address = 100; address < 300; address += 2) {
        range_list_add_range(list, address, address);
        model.add({address, address});
    }
    range_list_view(list);
    for (const ip_range& range : GetParam().additions) {
        range_list_insert(list, range);
        model.add(range);
    }
    EXPECT_EQ(ranges_of(list), model.as_ranges());
}

INSTANTIATE_TEST_SUITE_P(
    range_list, late_additions,
    ::testing::Values(late_case{"one below everything", {{5, 5}}},
                      late_case{"three scattered, descending", {{297, 297}, {151, 151}, {10, 20}}},
                      late_case{"bridging two ranges", {{201, 201}}},
                      late_case{"overlapping several", {{150, 170}, {90, 101}}},
                      late_case{"duplicates of present ranges", {{200, 200}, {100, 100}}}),
    testing::named_by<&late_case::name>());

/// The union of the ranges, computed the plain way.
ranges merged_model(std::vector<ip_range> added)
{
    std::sort(added.begin(), added.end(), [](auto a, auto b) { return a.first < b.first; });
    ranges out;
    for (const ip_range& r : added) {
        if (!out.empty() && (out.back().last == top_address || r.first <= out.back().last + 1))
            out.back().last = std::max(out.back().last, r.last);
        else
            out.push_back(r);
    }
    return out;
}

TEST(range_list, many_additions_in_any_order_match_the_sorted_model)
{
    // Large batches of out-of-order additions take a different sorting path than small ones.
    std::mt19937 random(99);
    for (std::size_t in_order : {0u, 10u, 150000u, 600000u}) {
        std::vector<ip_range> added;
        std::uint32_t at = 0;
        for (std::size_t i = 0; i < in_order; ++i) {
            at += 1 + random() % 5000;
            added.push_back({at, at + static_cast<std::uint32_t>(random() % 3000)});
        }
        for (int i = 0; i < 70000; ++i) {
            std::uint32_t first = random();
            std::uint32_t length = random() % 4 == 0 ? random() % 100000 : random() % 4;
            added.push_back({first, first > top_address - length ? top_address : first + length});
        }
        added.push_back({top_address - 1, top_address});
        added.push_back({0, 0});
        range_list list;
        for (const ip_range& r : added) range_list_insert(list, r);
        EXPECT_EQ(ranges_of(list), merged_model(added)) << in_order << " additions in order first";
    }
}

TEST(range_list, shuffled_batches_of_every_shape_match_the_sorted_model)
{
    // Batches of 2^17 ranges and more are dealt by the top byte into a block of their size and
    // finished by the three low bytes; large parts are dealt in place bucket by bucket and small
    // ones sorted through a scratch block; starts crowded into one top byte, or into a few
    // addresses, take the deeper paths.
    std::mt19937 random(5);
    struct shape {
        std::size_t count;
        std::uint32_t base;
        std::uint32_t spread_mask;
    };
    const shape shapes[] = {
        {1 << 17, 0, 0xFFFFFFFFu},          // the smallest batch dealt through a block
        {140000, 0x0A000000u, 0x00FFFFFFu}, // all of it in one part
        {200000, 0, 0xFFFFFFFFu},  // all top bytes
        {100000, 0x0A000000u, 0x00FFFFFFu}, // one top byte: recurses to the next byte
        {90000, 0x0A0B0000u, 0x0000FFFFu},  // two fixed bytes
        {80000, 0xC0A80100u, 0x000000FFu},  // 256 distinct starts, many equal
        {70000, 0x01020304u, 0},            // one start
        {32768, 0, 0x00FFFFFFu},           // a part of exactly the scratch size
        {32769, 0, 0x00FFFFFFu},
        {1000, 0x7F000000u, 0x0000FFFFu},
        {65, 0, 0xFFFFFFFFu},
    };
    for (const shape& batch : shapes) {
        std::vector<ip_range> added;
        for (std::size_t i = 0; i < batch.count; ++i) {
            std::uint32_t first = batch.base | (static_cast<std::uint32_t>(random()) & batch.spread_mask);
            std::uint32_t last = first + static_cast<std::uint32_t>(random() % 3);
            added.push_back({first, last < first ? top_address : last});
        }
        std::shuffle(added.begin(), added.end(), random);
        range_list list;
        for (const ip_range& r : added) range_list_insert(list, r);
        EXPECT_EQ(ranges_of(list), merged_model(added)) << batch.count << " from " << batch.base;
    }
}

TEST(range_list, additions_beyond_a_batch_merge_as_they_come)
{
    // Past a batch of pending additions a full block merges them before it grows: first
    // a cycle over a few ranges, given back to front, then many distinct ranges out of order
    // that merge while the list grows and once more when it is read.
    range_list list;
    std::vector<ip_range> added;
    for (std::uint32_t i = 0; i < 3'000'000; ++i) {
        std::uint32_t k = 9 - i % 10;
        added.push_back({k << 24, (k << 24) | 0xFFu});
    }
    std::mt19937 random(17);
    for (std::uint32_t i = 0; i < 2'200'000; ++i) {
        std::uint32_t first = 0x20000000u + 4 * static_cast<std::uint32_t>(random() % 100'000'000);
        added.push_back({first, first + static_cast<std::uint32_t>(random() % 3)});
    }
    for (const ip_range& range : added) range_list_insert(list, range);
    EXPECT_EQ(ranges_of(list), merged_model(added));
}

TEST(range_list, reserved_and_released_room_keeps_the_ranges)
{
    // Sizes on both sides of the mapped and huge page storage thresholds.
    for (std::size_t count : {5u, 40000u, 300000u, 700000u}) {
        std::vector<ip_range> added;
        for (std::size_t i = 0; i < count; ++i) {
            auto first = static_cast<std::uint32_t>(4 * i);
            added.push_back({first, first + 1});
        }
        range_list list;
        range_list_reserve(list, count / 2);
        for (std::size_t i = 0; i < count / 2; ++i) range_list_insert(list, added[i]);
        range_list_release_spare(list);
        for (std::size_t i = count / 2; i < count; ++i) range_list_insert(list, added[i]);
        range_list_release_spare(list);
        EXPECT_EQ(ranges_of(list), added) << count;
        range_list_reserve(list, 1);
        range_list copy;
        range_list_copy(list, copy);
        range_list_insert(copy, {top_address, top_address});
        added.push_back({top_address, top_address});
        EXPECT_EQ(ranges_of(copy), added) << count;
        range_list moved(std::move(copy));
        EXPECT_EQ(range_list_view(moved).size(), count + 1);
    }
}

} // namespace
} // namespace blockset
