#include <gtest/gtest.h>
#include <vector>

#include "ranges/range_list.h"
#include "test_support.h"

namespace blockset {
namespace {

using testing::ranges_of;

struct late_case {
    const char* name;
    std::vector<ip_range> additions; // made after the long list has been merged
};

class late_additions : public ::testing::TestWithParam<late_case> {};

// A long merged list of the even addresses 100, 102, ..., 298 (100 single ranges).
constexpr std::uint32_t first_even = 100;
constexpr std::uint32_t ranges_in_list = 100;

TEST_P(late_additions, few_additions_below_the_end_merge_into_a_long_list)
{
    const late_case& row = GetParam();
    range_list list;
    std::vector<bool> expected(1000, false);
    for (std::uint32_t i = 0; i < ranges_in_list; ++i) {
        std::uint32_t address = first_even + 2 * i;
        range_list_add_range(list, address, address);
        expected[address] = true;
    }
    range_list_view(list);
    for (const ip_range& range : row.additions) {
        range_list_insert(list, range);
        for (std::uint32_t a = range.first; a <= range.last; ++a) expected[a] = true;
    }
    std::vector<ip_range> model;
    for (std::uint32_t a = 0; a < expected.size(); ++a) {
        if (!expected[a]) continue;
        if (!model.empty() && model.back().last + 1 == a) {
            model.back().last = a;
        } else {
            model.push_back({a, a});
        }
    }
    EXPECT_EQ(ranges_of(list), model) << row.name;
}

INSTANTIATE_TEST_SUITE_P(
    range_list, late_additions,
    ::testing::Values(late_case{"one below everything", {{5, 5}}},
                      late_case{"three scattered, descending", {{297, 297}, {151, 151}, {10, 20}}},
                      late_case{"bridging two ranges", {{201, 201}}},
                      late_case{"overlapping several", {{150, 170}, {90, 101}}},
                      late_case{"duplicates of present ranges", {{200, 200}, {100, 100}}}),
    testing::named_by<&late_case::name>());

} // namespace
} // namespace blockset
