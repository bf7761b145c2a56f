#include "ranges/set_algebra.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "ranges/range_list.h"
#include "test_support.h"

namespace blockset {
namespace {

using testing::ip;
using testing::list_of;
using testing::ranges;
using testing::ranges_of;

constexpr ip_range everything{0, top_address};

struct binary_case {
    const char* name;
    ranges a;
    ranges b;
    ranges expected;
};

using binary_operation = range_list& (*)(range_list&, range_list&, range_list&);

void check_binary(binary_operation operation, const binary_case& row)
{
    range_list a = list_of(row.a);
    range_list b = list_of(row.b);
    range_list result = list_of({{ip("1.2.3.4"), ip("1.2.3.9")}});
    range_list& returned = operation(a, b, result);
    EXPECT_EQ(&returned, &result) << row.name;
    EXPECT_EQ(ranges_of(result), row.expected) << row.name;
    // Operands are only read.
    EXPECT_EQ(ranges_of(a), row.a) << row.name;
    EXPECT_EQ(ranges_of(b), row.b) << row.name;
}

// Ten addresses in 10.0.0.x, the worked example of the four operations.
const ranges example_a = {{ip("10.0.0.10"), ip("10.0.0.20")}, {ip("10.0.0.30"), ip("10.0.0.40")}};
const ranges example_b = {{ip("10.0.0.15"), ip("10.0.0.35")}};
// Small numbers stand for addresses.
const ranges small_a = {{1, 5}, {7, 9}, {11, 30}};
const ranges small_b = {{0, 8}, {12, 13}, {15, 16}, {29, 40}};

TEST(set_algebra, union_merges_in_ascending_order)
{
    const binary_case cases[] = {
        {"example", example_a, example_b, {{ip("10.0.0.10"), ip("10.0.0.40")}}},
        {"small numbers", small_a, small_b, {{0, 9}, {11, 40}}},
        {"empty b", small_a, {}, small_a},
        {"empty a", {}, small_b, small_b},
        {"both empty", {}, {}, {}},
        {"everything with a list", {everything}, small_b, {everything}},
        {"a list with everything", small_a, {everything}, {everything}},
        {"touching ranges merge", {{10, 20}}, {{21, 30}}, {{10, 30}}},
        {"a one-address gap stays", {{10, 20}}, {{22, 30}}, {{10, 20}, {22, 30}}},
        {"equal first addresses", {{10, 20}}, {{10, 30}}, {{10, 30}}},
        {"top address reached", {{5, top_address}}, {{0, 3}, {100, 200}}, {{0, 3}, {5, top_address}}},
        {"touching the top", {{0, top_address - 1}}, {{top_address, top_address}}, {everything}},
        {"interleaved", {{0, 0}, {4, 4}}, {{2, 2}, {6, 6}}, {{0, 0}, {2, 2}, {4, 4}, {6, 6}}},
    };
    for (const binary_case& row : cases) check_binary(range_list_union, row);
}

TEST(set_algebra, intersection_keeps_common_parts)
{
    const binary_case cases[] = {
        {"example",
         example_a,
         example_b,
         {{ip("10.0.0.15"), ip("10.0.0.20")}, {ip("10.0.0.30"), ip("10.0.0.35")}}},
        {"small numbers", small_a, small_b, {{1, 5}, {7, 8}, {12, 13}, {15, 16}, {29, 30}}},
        {"empty b", small_a, {}, {}},
        {"empty a", {}, small_b, {}},
        {"with everything", small_a, {everything}, small_a},
        {"touching ranges share nothing", {{10, 20}}, {{21, 30}}, {}},
        {"same end advances both", {{10, 20}, {30, 40}}, {{15, 20}, {35, 50}}, {{15, 20}, {35, 40}}},
        {"one range spans several", {{0, 100}}, {{5, 6}, {8, 9}, {99, 200}}, {{5, 6}, {8, 9}, {99, 100}}},
        {"at the top", {{10, top_address}}, {{top_address - 1, top_address}},
         {{top_address - 1, top_address}}},
        {"single addresses", {{0, 0}, {top_address, top_address}}, {everything},
         {{0, 0}, {top_address, top_address}}},
    };
    for (const binary_case& row : cases) check_binary(range_list_intersection, row);
}

TEST(set_algebra, difference_removes_the_second_operand)
{
    const binary_case cases[] = {
        {"example",
         example_a,
         example_b,
         {{ip("10.0.0.10"), ip("10.0.0.14")}, {ip("10.0.0.36"), ip("10.0.0.40")}}},
        {"example reversed", example_b, example_a, {{ip("10.0.0.21"), ip("10.0.0.29")}}},
        {"small numbers", small_a, small_b, {{9, 9}, {11, 11}, {14, 14}, {17, 28}}},
        {"minus empty", small_a, {}, small_a},
        {"empty minus a list", {}, small_b, {}},
        {"minus everything", small_a, {everything}, {}},
        {"everything minus zero", {everything}, {{0, 0}}, {{1, top_address}}},
        {"everything minus the top", {everything}, {{top_address, top_address}}, {{0, top_address - 1}}},
        {"a hole below the top", {{5, top_address}}, {{10, 20}}, {{5, 9}, {21, top_address}}},
        {"one cut spans two ranges", {{10, 20}, {30, 40}}, {{15, 35}}, {{10, 14}, {36, 40}}},
        {"several cuts in one range", {{0, 100}}, {{0, 9}, {20, 29}, {90, 200}},
         {{10, 19}, {30, 89}}},
        {"cut ends where the range ends", {{10, 20}, {30, 40}}, {{20, 20}, {40, 40}},
         {{10, 19}, {30, 39}}},
        {"cut before everything", {{10, 20}}, {{0, 5}}, {{10, 20}}},
        {"cut after everything", {{10, 20}}, {{30, 40}}, {{10, 20}}},
    };
    for (const binary_case& row : cases) check_binary(range_list_difference, row);
}

struct complement_case {
    const char* name;
    ranges a;
    ranges expected;
};

TEST(set_algebra, complement_lists_the_gaps)
{
    const complement_case cases[] = {
        {"example",
         example_a,
         {{0, ip("10.0.0.9")},
          {ip("10.0.0.21"), ip("10.0.0.29")},
          {ip("10.0.0.41"), top_address}}},
        {"empty", {}, {everything}},
        {"everything", {everything}, {}},
        {"single range", {{10, 20}}, {{0, 9}, {21, top_address}}},
        {"both ends", {{0, 5}, {10, top_address}}, {{6, 9}}},
        {"all but the top", {{0, top_address - 1}}, {{top_address, top_address}}},
        {"all but zero", {{1, top_address}}, {{0, 0}}},
        {"up from 10.0.0.0", {{ip("10.0.0.0"), top_address}}, {{0, ip("9.255.255.255")}}},
        {"single top address", {{top_address, top_address}}, {{0, top_address - 1}}},
    };
    for (const complement_case& row : cases) {
        range_list a = list_of(row.a);
        range_list result = list_of({{ip("1.2.3.4"), ip("1.2.3.9")}});
        range_list& returned = range_list_complement(a, result);
        EXPECT_EQ(&returned, &result) << row.name;
        EXPECT_EQ(ranges_of(result), row.expected) << row.name;

        range_list back;
        range_list_complement(result, back);
        EXPECT_EQ(ranges_of(back), ranges_of(a)) << row.name;
    }
}

/// Every overlap of a range of x with a range of y: their intersection, computed the plain way.
ranges overlaps(const ranges& x, const ranges& y)
{
    ranges out;
    for (const ip_range& p : x)
        for (const ip_range& q : y)
            if (p.first <= q.last && q.first <= p.last) out.push_back({std::max(p.first, q.first), std::min(p.last, q.last)});
    return out;
}

/// The gaps of ranges in invariant form, computed the plain way.
ranges gaps_of(const ranges& x)
{
    ranges out;
    std::uint64_t next = 0;
    for (const ip_range& p : x) {
        if (p.first > next) out.push_back({static_cast<std::uint32_t>(next), p.first - 1});
        next = std::uint64_t{p.last} + 1;
    }
    if (next <= top_address) out.push_back({static_cast<std::uint32_t>(next), top_address});
    return out;
}

TEST(set_algebra, operations_with_a_far_smaller_operand)
{
    // A large list of 10i..10i+3 for i < 100, so that a few ranges make the other operand far
    // smaller; results must agree with the plain computations whichever side is small.
    ranges large;
    for (std::uint32_t i = 0; i < 100; ++i) large.push_back({10 * i, 10 * i + 3});
    const struct {
        const char* name;
        ranges small;
    } cases[] = {
        {"empty", {}},
        {"below, inside a gap and above", {{0, 0}, {5, 5}, {2000, 2001}}},
        {"touching both neighbours", {{4, 9}}},
        {"cutting into ranges at both ends", {{2, 12}, {21, 31}, {42, 42}}},
        {"covering many", {{15, 500}, {505, 506}}},
        {"at the first and the last", {{0, 3}, {990, 993}}},
        {"up to the top address", {{995, top_address}}},
        {"from 0 through the middle", {{0, 555}, {top_address, top_address}}},
    };
    for (const auto& row : cases) {
        ranges all = large;
        all.insert(all.end(), row.small.begin(), row.small.end());
        range_list united = list_of(all);
        range_list common = list_of(overlaps(large, row.small));
        range_list large_rest = list_of(overlaps(large, gaps_of(row.small)));
        range_list small_rest = list_of(overlaps(row.small, gaps_of(large)));
        range_list big = list_of(large);
        range_list small = list_of(row.small);
        range_list result = list_of({{1, 2}});
        EXPECT_EQ(ranges_of(range_list_union(big, small, result)), ranges_of(united)) << row.name;
        EXPECT_EQ(ranges_of(range_list_union(small, big, result)), ranges_of(united)) << row.name;
        EXPECT_EQ(ranges_of(range_list_intersection(big, small, result)), ranges_of(common)) << row.name;
        EXPECT_EQ(ranges_of(range_list_intersection(small, big, result)), ranges_of(common)) << row.name;
        EXPECT_EQ(ranges_of(range_list_difference(big, small, result)), ranges_of(large_rest)) << row.name;
        EXPECT_EQ(ranges_of(range_list_difference(small, big, result)), ranges_of(small_rest)) << row.name;
        EXPECT_EQ(ranges_of(big), large) << row.name;
    }
}

TEST(set_algebra, operands_with_pending_additions_are_read_merged)
{
    // Additions out of order wait in the list until it is read; a sweep must see them.
    range_list a = list_of({{50, 60}, {10, 20}, {21, 25}});
    range_list b = list_of({{40, 55}, {0, 12}});
    range_list result;
    EXPECT_EQ(ranges_of(range_list_union(a, b, result)), (ranges{{0, 25}, {40, 60}}));
    range_list c = list_of({{50, 60}, {10, 20}});
    EXPECT_EQ(ranges_of(range_list_intersection(c, c, result)), (ranges{{10, 20}, {50, 60}}));
    range_list d = list_of({{50, 60}, {10, 20}});
    EXPECT_EQ(ranges_of(range_list_complement(d, result)),
              (ranges{{0, 9}, {21, 49}, {61, top_address}}));
}

} // namespace
} // namespace blockset
