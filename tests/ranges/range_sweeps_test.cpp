// The sweeps and the CIDR walk written once for both families, run on IPv4 lists: they must
// give what the IPv4 operations and listing give today.
#include "ranges/range_sweeps.h"

#include <random>
#include <string>

#include <gtest/gtest.h>

#include "ranges/cidr_walk.h"
#include "ranges/range_list.h"
#include "ranges/set_algebra.h"
#include "test_support.h"

namespace blockset {
namespace {

using testing::dotted;
using testing::ranges;
using testing::ranges_of;

/// Up to eight ranges near both ends of the space and in its middle.
range_list random_list(std::mt19937& random)
{
    const std::uint32_t anchors[] = {0, 0x7FFFFFE0u, 0xFFFFFFC0u};
    range_list list;
    for (unsigned n = random() % 9; n > 0; --n) {
        std::uint32_t a = anchors[random() % 3] + random() % 64, b = anchors[random() % 3] + random() % 64;
        range_list_insert(list, {std::min(a, b), std::max(a, b)});
    }
    return list;
}

TEST(range_sweeps, give_the_ipv4_operations_and_cidr_listing)
{
    std::mt19937 random(32);
    for (int round = 0; round < 2000; ++round) {
        range_list a = random_list(random), b = random_list(random), expected, swept;
        auto left = range_list_view(a);
        auto right = range_list_view(b);
        auto into = [&swept](const ip_range& range) { range_list_insert(swept, range); };
        using span = std::span<const ip_range>;

        sweep_union(span(left), span(right), into);
        EXPECT_EQ(ranges_of(swept), ranges_of(range_list_union(a, b, expected))) << round;
        range_list_clear(swept);
        sweep_intersection(span(left), span(right), into);
        EXPECT_EQ(ranges_of(swept), ranges_of(range_list_intersection(a, b, expected))) << round;
        range_list_clear(swept);
        sweep_difference(span(left), span(right), into);
        EXPECT_EQ(ranges_of(swept), ranges_of(range_list_difference(a, b, expected))) << round;
        range_list_clear(swept);
        sweep_complement(span(left), into);
        EXPECT_EQ(ranges_of(swept), ranges_of(range_list_complement(a, expected))) << round;

        std::string walked;
        for_each_cidr_block(span(left), [&walked](std::uint32_t address, unsigned prefix_length) {
            walked += dotted(address) + "/" + std::to_string(prefix_length) + "\n";
        });
        EXPECT_EQ(walked, testing::listing_text(range_list_write_cidr, a)) << round;
    }
}

} // namespace
} // namespace blockset
