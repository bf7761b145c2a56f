#include "ranges/pixel_coverage.h"

#include <cstdint>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "ranges/ip_range.h"
#include "ranges/ipv6_range.h"
#include "test_support.h"

namespace blockset {
namespace {

using testing::one;
using testing::span;

using pixels = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

/// Every (pixel, addresses) the walk of an IPv4 list gives, one /24 a pixel.
pixels walk(const std::vector<ip_range>& list)
{
    pixels seen;
    for (pixel_coverage<ip_range> cursor(list, {0, top_address}, 8); !cursor.done(); cursor.next())
        seen.emplace_back(cursor.pixel(), cursor.addresses());
    return seen;
}

struct coverage_case {
    const char* name;
    std::vector<ip_range> list;
    pixels expected;
};
void PrintTo(const coverage_case& row, std::ostream* out) { *out << row.name; }

class pixel_coverage_ipv4 : public ::testing::TestWithParam<coverage_case> {};

TEST_P(pixel_coverage_ipv4, counts_each_touched_pixel_once)
{
    EXPECT_EQ(walk(GetParam().list), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    rows, pixel_coverage_ipv4,
    ::testing::Values(
        coverage_case{"empty", {}, {}},
        coverage_case{"first address", {one("0.0.0.0")}, {{0, 1}}},
        coverage_case{"top address", {one("255.255.255.255")}, {{0xFFFFFF, 1}}},
        coverage_case{"whole top block", {span("255.255.255.0", "255.255.255.255")}, {{0xFFFFFF, 256}}},
        coverage_case{"two ranges in one block", {span("10.0.0.1", "10.0.0.3"), one("10.0.0.200")}, {{0x0A0000, 4}}},
        coverage_case{"a range over three blocks",
                      {span("10.0.0.250", "10.0.2.5")},
                      {{0x0A0000, 6}, {0x0A0001, 256}, {0x0A0002, 6}}},
        coverage_case{"a range's end shares a block with the next range",
                      {span("10.0.0.0", "10.0.1.9"), span("10.0.1.20", "10.0.1.29"), one("10.0.3.0")},
                      {{0x0A0000, 256}, {0x0A0001, 20}, {0x0A0003, 1}}},
        coverage_case{"touching blocks", {span("1.2.3.255", "1.2.4.0")}, {{0x010203, 1}, {0x010204, 1}}}),
    [](const auto& info) { return testing::case_name(info.index, info.param.name); });

TEST(pixel_coverage, whole_space_is_every_pixel_full)
{
    const std::vector<ip_range> whole = {{0, top_address}};
    std::uint32_t pixel_count = 0;
    bool all_full = true;
    for (pixel_coverage<ip_range> cursor(whole, {0, top_address}, 8); !cursor.done(); cursor.next()) {
        all_full = all_full && cursor.pixel() == pixel_count && cursor.addresses() == 256;
        ++pixel_count;
    }
    EXPECT_EQ(pixel_count, 1u << 24);
    EXPECT_TRUE(all_full);
}

TEST(pixel_coverage, ipv6_window_leaves_out_what_lies_outside)
{
    // 2000::/4 at one /28 a pixel, as the IPv6 panel of a map.
    const ipv6_address base = ipv6_from_halves(0x2000000000000000u, 0);
    const ipv6_range window{base, block_last_address(base, 4)};
    const ipv6_address pixel_size = ipv6_address{1} << 100;
    std::vector<ipv6_range> list = {
        {0, base + 5},                                       // from below the window into its first pixel
        {base + 3 * pixel_size - 1, base + 3 * pixel_size},  // over the edge of pixels 2 and 3
        {window.last - 9, ipv6_top_address},                 // out past the window's end
    };
    std::vector<std::pair<ipv6_address, ipv6_address>> seen;
    for (pixel_coverage<ipv6_range> cursor(list, window, 100); !cursor.done(); cursor.next())
        seen.emplace_back(cursor.pixel(), cursor.addresses());
    const ipv6_address last_pixel = (ipv6_address{1} << 24) - 1;
    std::vector<std::pair<ipv6_address, ipv6_address>> expected = {{0, 6}, {2, 1}, {3, 1}, {last_pixel, 10}};
    EXPECT_TRUE(seen == expected) << seen.size() << " pixels";
}

} // namespace
} // namespace blockset
