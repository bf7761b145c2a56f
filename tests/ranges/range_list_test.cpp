#include "ranges/range_list.h"
#include "ranges/range_sort.h"

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

namespace blockset {
namespace {

using testing::address_bitmap;
using testing::list_of;
using testing::one;
using testing::ranges;
using testing::ranges_of;
using testing::span;

constexpr std::uint32_t top = top_address;

/// The union of the ranges, computed the plain way.
ranges merged_model(ranges added)
{
    std::sort(added.begin(), added.end(), [](auto a, auto b) { return a.first < b.first; });
    ranges out;
    for (const ip_range& r : added) {
        if (!out.empty() && (out.back().last == top || r.first <= out.back().last + 1))
            out.back().last = std::max(out.back().last, r.last);
        else
            out.push_back(r);
    }
    return out;
}

/// The ranges 10-20, 30-40 and 50-60, then the one given.
ranges after_three(ip_range added) { return {{10, 20}, {30, 40}, {50, 60}, added}; }

TEST(range_list, additions_in_the_order_given_keep_the_invariant_form)
{
    const struct {
        ranges added;
        ranges expected;
    } cases[] = {
        {after_three({5, 35}), {{5, 40}, {50, 60}}},
        {after_three({15, 25}), {{10, 25}, {30, 40}, {50, 60}}},
        {after_three({21, 29}), {{10, 40}, {50, 60}}},
        {after_three({22, 27}), {{10, 20}, {22, 27}, {30, 40}, {50, 60}}},
        {after_three({0, 8}), {{0, 8}, {10, 20}, {30, 40}, {50, 60}}},
        {after_three({9, 9}), {{9, 20}, {30, 40}, {50, 60}}},
        {after_three({10, 15}), {{10, 20}, {30, 40}, {50, 60}}},
        {after_three({30, 45}), {{10, 20}, {30, 45}, {50, 60}}},
        {after_three({55, 58}), {{10, 20}, {30, 40}, {50, 60}}},
        {after_three({61, 70}), {{10, 20}, {30, 40}, {50, 70}}},
        {after_three({62, 70}), {{10, 20}, {30, 40}, {50, 60}, {62, 70}}},
        {after_three({5, top}), {{5, top}}},
        {after_three({0, top}), {{0, top}}},
        {after_three({70, 65}), {{10, 20}, {30, 40}, {50, 60}}},
        // Touching against one apart, nested, reversed, and at both ends of the address space.
        {{{10, 20}, {21, 30}}, {{10, 30}}},
        {{{10, 20}, {22, 30}}, {{10, 20}, {22, 30}}},
        {{{10, 20}, {10, 25}}, {{10, 25}}},
        {{{30, 40}, {10, 20}, {10, 25}}, {{10, 25}, {30, 40}}},
        {{{10, 20}, {0, top}, {5, 7}}, {{0, top}}},
        {{{100, top}, {200, 300}, {top, top}}, {{100, top}}},
        {{{top - 5, top - 1}, {top, top}}, {{top - 5, top}}},
        {{{top - 5, top}, {0, 0}}, {{0, 0}, {top - 5, top}}},
        {{{0, 0}, {top, top}, {1, top - 1}}, {{0, top}}},
        {{{5, 4}}, {}},
        {{{0, 0}, {1, 1}}, {{0, 1}}},
        // A gap of one address closed last.
        {{span("192.168.0.0", "192.168.0.255"), span("192.168.1.0", "192.168.1.10"), one("192.168.1.12"),
          span("10.0.0.0", "10.255.255.255"), one("192.168.1.11"), span("10.1.2.3", "10.1.255.255")},
         {span("10.0.0.0", "10.255.255.255"), span("192.168.0.0", "192.168.1.12")}},
    };
    for (const auto& c : cases) {
        range_list inserted = list_of(c.added);
        EXPECT_EQ(ranges_of(inserted), c.expected) << ::testing::PrintToString(c.added);
    }
}

TEST(range_list, copy_replaces_the_target_by_the_merged_source_and_shares_nothing_with_it)
{
    ranges long_source, long_target;
    for (std::uint32_t i = 0; i < 30000; ++i) long_source.push_back({4 * i, 4 * i + 1});
    for (std::uint32_t i = 0; i < 40000; ++i) long_target.push_back({3 * i + 1000000, 3 * i + 1000001});
    const struct {
        ranges source;
        ranges target;
    } cases[] = {
        {{{1, 2}, {5, 6}}, {{100, 200}}},
        {{}, {{100, 200}}},
        {{{50, 60}, {10, 20}, {21, 49}, {70, 70}}, {}}, // pending additions in the source
        {long_source, long_target},                    // the target's storage is used again
    };
    for (const auto& c : cases) {
        range_list source = list_of(c.source);
        range_list target = list_of(c.target);
        range_list_copy(source, target);
        EXPECT_EQ(ranges_of(target), merged_model(c.source));
        range_list_insert(target, {top, top});
        range_list_insert(target, {0, 0});
        ranges grown = c.source;
        grown.insert(grown.end(), {{top, top}, {0, 0}});
        EXPECT_EQ(ranges_of(target), merged_model(grown));
        EXPECT_EQ(ranges_of(source), merged_model(c.source));
    }
}

TEST(range_list, sorted_insertion_adds_ranges_in_invariant_form)
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
        {{{10, top}}, {{20, 30}, {top, top}}, {{10, top}}},
    };
    for (const auto& c : cases) {
        range_list list = list_of(c.list);
        range_list_insert_sorted(list, c.appended);
        EXPECT_EQ(ranges_of(list), c.expected);
    }
}

TEST(range_list, any_order_of_additions_gives_the_same_list)
{
    // Short ranges crowded near 0.0.0.0 in even rounds and near 255.255.255.255 in odd ones.
    std::mt19937 random(12345);
    for (int round = 0; round < 50; ++round) {
        const bool at_top = round % 2 == 1;
        ranges added(1 + random() % 300);
        for (ip_range& r : added) {
            std::uint32_t first = random() % 2000;
            std::uint32_t length = random() % 20;
            r = at_top ? ip_range{top - first, top - first + std::min(first, length)} : ip_range{first, first + length};
        }
        address_bitmap model(at_top ? top - 3999 : 0, 4000);
        for (const ip_range& r : added) model.add(r);
        for (int order = 0; order < 3; ++order) {
            if (order == 1) std::sort(added.begin(), added.end(), [](auto a, auto b) { return a.first < b.first; });
            if (order == 2) std::shuffle(added.begin(), added.end(), random);
            range_list list;
            // Read in the middle too: pending additions must merge into an already merged list.
            for (std::size_t i = 0; i < added.size(); ++i) {
                range_list_insert(list, added[i]);
                if (i == added.size() / 2) range_list_view(list);
            }
            EXPECT_EQ(ranges_of(list), model.as_ranges()) << "round " << round << " order " << order;
        }
    }
}

TEST(range_list, few_additions_below_the_end_merge_into_a_long_merged_list)
{
    const ranges cases[] = {
        {{5, 5}},                             // one below everything
        {{297, 297}, {151, 151}, {10, 20}},   // three scattered, descending
        {{201, 201}},                         // bridging two ranges
        {{150, 170}, {90, 101}},              // overlapping several
        {{200, 200}, {100, 100}},             // duplicates of present ranges
    };
    for (const ranges& additions : cases) {
        // The even addresses 100, 102, ..., 298, merged: far more ranges than are looked
        // through for an addition a little before the end.
        ranges added;
        for (std::uint32_t address = 100; address < 300; address += 2) added.push_back({address, address});
        range_list list = list_of(added);
        range_list_view(list);
        for (const ip_range& range : additions) range_list_insert(list, range);
        added.insert(added.end(), additions.begin(), additions.end());
        EXPECT_EQ(ranges_of(list), merged_model(added)) << ::testing::PrintToString(additions);
    }
}

TEST(range_list, large_batches_of_every_shape_match_the_sorted_model)
{
    // Batches spread over every top byte, crowded into one top byte, into a few addresses or
    // onto one, each sorted into a list given in order before it or not, with or without room
    // for them all, and some holding long ranges.
    struct shape {
        std::size_t in_order;
        std::size_t count;
        std::uint32_t base;
        std::uint32_t spread_mask;
        std::uint32_t long_length; // a quarter of the ranges are up to this long; 0 for none
        bool room = false; // the list has room for all the ranges before they come
    };
    const shape shapes[] = {
        {0, 70000, 0, 0xFFFFFFFFu, 100000},
        {10, 70000, 0, 0xFFFFFFFFu, 100000},
        {150000, 70000, 0, 0xFFFFFFFFu, 100000},
        {600000, 70000, 0, 0xFFFFFFFFu, 100000},
        {0, 1 << 17, 0, 0xFFFFFFFFu, 0},          // the smallest batch dealt through a block
        {0, 140000, 0x0A000000u, 0x00FFFFFFu, 0}, // all of it in one part
        {0, 200000, 0, 0xFFFFFFFFu, 0},           // all top bytes
        {0, 150000, 0x0A0B0000u, 0x0000FFFFu, 0}, // dealt to the third byte, finished in the cache
        {0, 150000, 0xC0A80100u, 0x000000FFu, 0}, // dealt down to the last byte
        {0, 150000, 0x01020304u, 0, 0},
        {0, 100000, 0x0A000000u, 0x00FFFFFFu, 0}, // one top byte: recurses to the next byte
        {0, 90000, 0x0A0B0000u, 0x0000FFFFu, 0},  // two fixed bytes
        {0, 80000, 0xC0A80100u, 0x000000FFu, 0},  // 256 distinct starts, many equal
        {0, 70000, 0x01020304u, 0, 0},            // one start
        {0, 32768, 0, 0x00FFFFFFu, 0},            // a part of exactly the scratch size
        {0, 32769, 0, 0x00FFFFFFu, 0},
        {0, 1000, 0x7F000000u, 0x0000FFFFu, 0},
        {0, 65, 0, 0xFFFFFFFFu, 0},
        {0, 300000, 0x0A000000u, 0x000FFFFFu, 0, true},
        {150000, 150000, 0x0A000000u, 0x0007FFFFu, 100000, true},
    };
    std::mt19937 random(5);
    for (const shape& batch : shapes) {
        auto some_range = [&] {
            std::uint32_t first = batch.base | (static_cast<std::uint32_t>(random()) & batch.spread_mask);
            std::uint32_t length = random() % 3;
            if (batch.long_length > 0 && random() % 4 == 0) length = random() % batch.long_length;
            return ip_range{first, first > top - length ? top : first + length};
        };
        ranges added;
        for (std::uint32_t i = 0, at = 0; i < batch.in_order; ++i) {
            at += 1 + random() % 5000;
            added.push_back({at, at + static_cast<std::uint32_t>(random() % 3000)});
        }
        for (std::size_t i = 0; i < batch.count; ++i) added.push_back(some_range());
        added.insert(added.end(), {{top - 1, top}, {0, 0}});
        range_list list;
        if (batch.room) range_list_reserve(list, added.size());
        for (const ip_range& r : added) range_list_insert(list, r);
        EXPECT_EQ(ranges_of(list), merged_model(added)) << batch.count << " from " << batch.base << " after "
                                                        << batch.in_order << " in order";
    }
}

TEST(range_list, additions_beyond_a_batch_merge_as_they_come)
{
    // Past a batch of pending additions a full block merges them before it grows: first
    // a cycle over a few ranges, given back to front, then many distinct ranges out of order
    // that merge while the list grows and once more when it is read.
    ranges added;
    for (std::uint32_t i = 0; i < 3'000'000; ++i) {
        std::uint32_t k = 9 - i % 10;
        added.push_back({k << 24, (k << 24) | 0xFFu});
    }
    std::mt19937 random(17);
    for (std::uint32_t i = 0; i < 2'200'000; ++i) {
        std::uint32_t first = 0x20000000u + 4 * static_cast<std::uint32_t>(random() % 100'000'000);
        added.push_back({first, first + static_cast<std::uint32_t>(random() % 3)});
    }
    range_list list = list_of(added);
    EXPECT_EQ(ranges_of(list), merged_model(added));
}

TEST(range_list, reserved_and_released_room_keeps_the_ranges)
{
    // Sizes on both sides of the mapped and huge page storage thresholds; room reserved for
    // half the ranges or for four times as many, and given back by the reads halfway and at
    // the end.
    for (std::size_t reserved_per_four : {2u, 16u})
    for (std::size_t count : {5u, 40000u, 300000u, 700000u}) {
        ranges added;
        for (std::uint32_t first = 0; added.size() < count; first += 4) added.push_back({first, first + 1});
        range_list list;
        range_list_reserve(list, count * reserved_per_four / 4);
        for (std::size_t i = 0; i < count; ++i) {
            range_list_insert(list, added[i]);
            if (i + 1 == count / 2) range_list_view(list);
        }
        EXPECT_EQ(ranges_of(list), added) << count;
        range_list_reserve(list, 1);
        range_list copy;
        range_list_copy(list, copy);
        range_list_insert(copy, {top, top});
        added.push_back({top, top});
        EXPECT_EQ(ranges_of(copy), added) << count;
        range_list moved(std::move(copy));
        EXPECT_EQ(ranges_of(moved), added) << count;
    }
}

} // namespace
} // namespace blockset
