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
        range_list added;
        for (const ip_range& r : c.added) range_list_add_range(added, r.first, r.last);
        EXPECT_EQ(ranges_of(inserted), c.expected) << ::testing::PrintToString(c.added);
        EXPECT_EQ(ranges_of(added), c.expected) << "by range_list_add_range: " << ::testing::PrintToString(c.added);
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
        {{{10, top}}, {{20, 30}, {top, top}}, {{10, top}}},
    };
    for (const auto& c : cases) {
        range_list list = list_of(c.list);
        range_list_append(list, c.appended);
        EXPECT_EQ(ranges_of(list), c.expected);
    }
}

TEST(range_list, long_interleaved_appends_merge_as_short_ones)
{
    // Long parts merge in two halves at once, split at the middle appended range: ranges that
    // overlap, touch or start together across the split, and appended ranges all above the
    // list but for one. The parts here are long from 1000 ranges.
    struct shape {
        std::uint32_t list_step, appended_step, appended_offset, length;
    };
    const shape shapes[] = {
        {6, 6, 3, 1},       // interleaved, apart
        {4, 4, 2, 1},       // interleaved, touching
        {5, 3, 1, 4},       // overlapping
        {2, 2, 0, 0},       // the same starts
        {2, 2, 1 << 23, 0}, // all above the list but for a first one at its start
    };
    constexpr std::uint32_t count = 3001;
    range_list_set_shared_merge(1000);
    for (const shape& s : shapes) {
        ranges list_part, appended;
        for (std::uint32_t i = 0; i < count; ++i) {
            list_part.push_back({i * s.list_step, i * s.list_step + s.length});
            std::uint32_t first = s.appended_offset + i * s.appended_step;
            appended.push_back({first, first + s.length});
        }
        if (s.appended_offset > count * s.list_step) appended.front() = {1, 1};
        range_list list = list_of(list_part);
        range_list appended_list = list_of(appended);
        range_list_append(list, range_list_view(appended_list));
        ranges all = list_part;
        all.insert(all.end(), appended.begin(), appended.end());
        EXPECT_EQ(ranges_of(list), merged_model(all)) << s.list_step << " " << s.appended_step << " " << s.appended_offset;
    }
    range_list_set_shared_merge(std::size_t{1} << 20);
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
    // Batches of 2^17 ranges and more are dealt byte by byte between the list's block and a
    // scratch block until a part fits the cache, beyond 2^22 ranges first in place; smaller
    // ones are dealt in place bucket by bucket, and small parts sorted through a scratch block;
    // starts crowded into one top byte, or into a few addresses, take the deeper paths, which
    // end in either block. Some batches follow a long run of ranges in order, and some hold
    // long ranges. Ranges handed over at once (range_list_add_unsorted) are dealt with the
    // list's by their top 16 bits into buckets, sorted and merged in two halves, and joined,
    // from 2^18 ranges in all; one of them spans the halves' seam. Groups of 2^13 ranges and
    // more are painted into bitmaps instead, with whole-group ranges, ranges that run on past
    // the group, and groups that touch; where the list has room for them all, mostly dense
    // ranges are sorted into the list's own block, over the parts.
    struct shape {
        std::size_t in_order;
        std::size_t count;
        std::uint32_t base;
        std::uint32_t spread_mask;
        std::uint32_t long_length; // a quarter of the ranges are up to this long; 0 for none
        std::size_t handed_over = 0;
        bool room = false; // the list has room for all the ranges before they are handed over
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
        {0, 0, 0, 0xFFFFFFFFu, 0, 300000},
        {200000, 150000, 0, 0xFFFFFFFFu, 100000, 200000},
        {0, 100000, 0x0A000000u, 0x00FFFFFFu, 0, 200000}, // the groups of one top byte
        {0, 150000, 0x0A0B0000u, 0x0000FFFFu, 0, 150000}, // one group, larger than the cache
        {0, 100000, 0xC0A80100u, 0x000000FFu, 0, 200000}, // few starts, many equal
        {300000, 0, 0, 0xFFFFFFFFu, 0, 1},
        {500, 500, 0, 0xFFFFFFFFu, 100000, 1000}, // too few: they join the pending additions
        {0, 300000, 0x0A000000u, 0x000FFFFFu, 0},             // dense pending additions, sorted over themselves
        {0, 0, 0x0A000000u, 0x000FFFFFu, 0, 300000, true},    // 16 dense groups, over the parts
        {0, 150000, 0x0A000000u, 0x0007FFFFu, 100000, 150000, true}, // dense, with long ranges
        {150000, 0, 0x0A0D0000u, 0x0000FFFFu, 0, 20000},      // sparse groups, then a dense one
    };
    std::mt19937 random(5);
    // Each shape again with a scratch block too small for the large batches, which are then
    // dealt in place first.
    for (std::size_t scratch : {std::size_t{1} << 22, std::size_t{1} << 16})
    for (const shape& batch : shapes) {
        if (scratch < (1 << 22) && batch.in_order + batch.count + batch.handed_over < (1 << 17)) continue; // no large sort
        range_sort_set_largest_scratch(scratch);
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
        if (batch.room) range_list_expect(list, added.size() + batch.handed_over);
        for (const ip_range& r : added) range_list_insert(list, r);
        ranges handed(batch.handed_over);
        for (ip_range& r : handed) r = some_range();
        if (handed.size() > 1000) {
            handed[7] = {0x70000000u, 0x90000000u};
            handed[8] = {0x0A0B0000u, 0x0A0BFFFFu};
            handed[9] = {0x0A0C0000u, 0x0A0C0010u};
        }
        range_list_add_unsorted(list, handed);
        added.insert(added.end(), handed.begin(), handed.end());
        EXPECT_EQ(ranges_of(list), merged_model(added)) << batch.count << " from " << batch.base << " after "
                                                        << batch.in_order << " in order, " << batch.handed_over
                                                        << " handed over, scratch " << scratch;
    }
    range_sort_set_largest_scratch(std::size_t{1} << 22);
}

TEST(range_sort, dense_groups_read_off_in_invariant_form)
{
    // Groups of 2^13 ranges and more are painted into a bitmap per part and read off as runs,
    // merged with the long ranges and those that run on past the group. Each case is sorted
    // into a block of its own, and again over the parts themselves.
    auto every = [](std::uint32_t from, std::uint32_t count, std::uint32_t step, std::uint32_t length) {
        ranges out;
        for (std::uint32_t i = 0; i < count; ++i) {
            std::uint32_t first = from + i * step;
            out.push_back({first, first > top - length ? top : first + length});
        }
        return out;
    };
    auto joined = [](ranges a, const ranges& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const struct {
        const char* name;
        ranges all;
    } cases[] = {
        {"the lowest addresses, one run", every(0, 8192, 1, 0)},
        {"one range short of dense", every(0x01000000u, 8191, 2, 0)},
        {"runs across words and the top address", every(top - 3 * 8191 - 1, 8192, 3, 1)},
        {"a full group touching the next", joined(every(0x0A0B0000u, 65536, 1, 0), every(0x0A0C0000u, 9000, 5, 3))},
        {"ranges on past the group", joined(every(0x0B000000u, 9000, 7, 2), every(0x0B000400u, 300, 211, 70000))},
        {"duplicates of one range", joined(every(0x0C000040u, 8192, 0, 63), every(0x0C000000u, 1, 1, 63))},
        {"long ranges within the group", joined(every(0x0D000000u, 9000, 3, 0), every(0x0D000101u, 40, 1500, 2000))},
    };
    std::mt19937 random(11);
    for (const auto& c : cases) {
        ranges parts = c.all;
        std::shuffle(parts.begin(), parts.end(), random);
        const std::size_t half = parts.size() / 2;
        for (bool over : {false, true}) {
            ranges dealt(parts.size());
            ranges block = parts;
            bool went_over = false;
            std::size_t count = range_sort_pair_into({block.data(), half}, {block.data() + half, block.size() - half},
                                                     dealt.data(), over ? block.data() : nullptr, went_over);
            const ranges& result = went_over ? block : dealt;
            EXPECT_EQ(ranges(result.begin(), result.begin() + static_cast<std::ptrdiff_t>(count)), merged_model(c.all))
                << c.name << (over ? ", over the parts" : "");
            EXPECT_EQ(went_over, over && std::string(c.name) != "one range short of dense") << c.name;
        }
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
    // Sizes on both sides of the mapped and huge page storage thresholds; room made for half
    // the ranges, or expected for four times as many, given back halfway and at the end.
    for (auto make_room : {range_list_reserve, range_list_expect})
    for (std::size_t count : {5u, 40000u, 300000u, 700000u}) {
        ranges added;
        for (std::uint32_t first = 0; added.size() < count; first += 4) added.push_back({first, first + 1});
        range_list list;
        make_room(list, make_room == range_list_reserve ? count / 2 : count * 4);
        for (std::size_t i = 0; i < count; ++i) {
            range_list_insert(list, added[i]);
            if (i + 1 == count / 2 || i + 1 == count) range_list_release_spare(list);
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
