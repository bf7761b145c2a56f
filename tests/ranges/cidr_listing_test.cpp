#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "io/output_stream.h"
#include "ranges/range_list.h"
#include "test_support.h"

namespace blockset {
namespace {

using testing::dotted;
using testing::ip;
using testing::list_of;

/// The CIDR listing, written through a small buffer so that long listings refill it often.
std::string cidr_lines(range_list&& list) { return testing::listing_text(range_list_write_cidr, list, 64); }

std::string joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

struct listing_case {
    const char* first;
    const char* last;
    std::vector<std::string> lines;
};

TEST(cidr_listing, one_range_becomes_the_fewest_aligned_blocks)
{
    const listing_case cases[] = {
        {"10.0.0.0", "10.0.0.255", {"10.0.0.0/24"}},
        {"10.0.0.5", "10.0.0.255",
         {"10.0.0.5/32", "10.0.0.6/31", "10.0.0.8/29", "10.0.0.16/28", "10.0.0.32/27", "10.0.0.64/26",
          "10.0.0.128/25"}},
        {"10.0.0.1", "10.0.0.6", {"10.0.0.1/32", "10.0.0.2/31", "10.0.0.4/31", "10.0.0.6/32"}},
        {"10.0.0.0", "10.1.2.3", {"10.0.0.0/16", "10.1.0.0/23", "10.1.2.0/30"}},
        {"192.168.1.7", "192.168.1.7", {"192.168.1.7/32"}},
        {"0.0.0.0", "255.255.255.255", {"0.0.0.0/0"}},
        {"0.0.0.0", "0.0.0.0", {"0.0.0.0/32"}},
        {"255.255.255.255", "255.255.255.255", {"255.255.255.255/32"}},
        {"255.255.255.254", "255.255.255.255", {"255.255.255.254/31"}},
        {"128.0.0.0", "255.255.255.255", {"128.0.0.0/1"}},
        {"200.1.2.3", "200.1.2.4", {"200.1.2.3/32", "200.1.2.4/32"}},
        {"10.0.0.0", "10.0.0.2", {"10.0.0.0/31", "10.0.0.2/32"}},
        {"254.0.0.1", "255.255.255.255",
         {"254.0.0.1/32",  "254.0.0.2/31",  "254.0.0.4/30",  "254.0.0.8/29",  "254.0.0.16/28",
          "254.0.0.32/27", "254.0.0.64/26", "254.0.0.128/25", "254.0.1.0/24", "254.0.2.0/23",
          "254.0.4.0/22",  "254.0.8.0/21",  "254.0.16.0/20", "254.0.32.0/19", "254.0.64.0/18",
          "254.0.128.0/17", "254.1.0.0/16", "254.2.0.0/15", "254.4.0.0/14", "254.8.0.0/13",
          "254.16.0.0/12", "254.32.0.0/11", "254.64.0.0/10", "254.128.0.0/9", "255.0.0.0/8"}},
    };
    for (const listing_case& c : cases) {
        range_list list = list_of({{ip(c.first), ip(c.last)}});
        EXPECT_EQ(cidr_lines(std::move(list)), joined(c.lines)) << c.first << "-" << c.last;
    }
}

TEST(cidr_listing, range_from_one_to_the_top_doubles_up_to_the_upper_half)
{
    // 0.0.0.1/32, 0.0.0.2/31, ..., 64.0.0.0/2, 128.0.0.0/1.
    std::vector<std::string> lines;
    for (unsigned prefix = 32; prefix >= 1; --prefix)
        lines.push_back(dotted(std::uint32_t{1} << (32 - prefix)) + "/" + std::to_string(prefix));
    EXPECT_EQ(cidr_lines(list_of({{1, top_address}})), joined(lines));
}

TEST(cidr_listing, range_from_zero_to_below_the_top_halves_down_to_one_address)
{
    // 0.0.0.0/1, 128.0.0.0/2, 192.0.0.0/3, ..., 255.255.255.252/31, 255.255.255.254/32.
    std::vector<std::string> lines;
    for (unsigned prefix = 1; prefix <= 32; ++prefix) {
        auto start = static_cast<std::uint32_t>(~std::uint64_t{0} << (33 - prefix));
        lines.push_back(dotted(start) + "/" + std::to_string(prefix));
    }
    EXPECT_EQ(cidr_lines(list_of({{0, top_address - 1}})), joined(lines));
}

TEST(cidr_listing, empty_list_writes_nothing)
{
    range_list list;
    EXPECT_EQ(cidr_lines(std::move(list)), "");
    range_list reversed = list_of({{ip("10.0.0.9"), ip("10.0.0.1")}});
    EXPECT_EQ(cidr_lines(std::move(reversed)), "");
}

TEST(cidr_listing, ranges_are_written_in_ascending_order_whatever_the_order_of_addition)
{
    range_list list = list_of({{ip("192.168.1.12"), ip("192.168.1.12")},
                               {ip("10.0.0.0"), ip("10.255.255.255")},
                               {ip("192.168.0.0"), ip("192.168.1.10")}});
    EXPECT_EQ(cidr_lines(std::move(list)), joined({"10.0.0.0/8", "192.168.0.0/24", "192.168.1.0/29", "192.168.1.8/31",
                                        "192.168.1.10/32", "192.168.1.12/32"}));
}

TEST(cidr_listing, long_listings_survive_many_buffer_refills)
{
    range_list list;
    std::string expected;
    for (std::uint32_t i = 0; i < 5000; ++i) {
        std::uint32_t address = ip("172.16.0.0") + 2 * i;
        range_list_add_range(list, address, address);
        expected += dotted(address) + "/32\n";
    }
    EXPECT_EQ(cidr_lines(std::move(list)), expected);
}

} // namespace
} // namespace blockset
