#include "ranges/listings.h"

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "io/output_stream.h"
#include "ranges/range_list.h"
#include "test_support.h"

namespace blockset {
namespace {

using testing::ip;
using testing::list_of;
using testing::listing_text;
using testing::ranges;

/// The address listing written the slow, obvious way.
std::string addresses_one_by_one(std::uint32_t first, std::uint32_t last)
{
    std::string text;
    for (std::uint64_t address = first; address <= last; ++address)
        text += testing::dotted(static_cast<std::uint32_t>(address)) + "\n";
    return text;
}

/// Compares long listings by their first differing line; a whole-text diff of megabytes
/// would cost more memory than the test machine has.
void expect_same_lines(const std::string& actual, const std::string& expected)
{
    std::istringstream actual_lines(actual), expected_lines(expected);
    std::string actual_line, expected_line;
    for (std::size_t number = 1;; ++number) {
        bool more_actual = static_cast<bool>(std::getline(actual_lines, actual_line));
        bool more_expected = static_cast<bool>(std::getline(expected_lines, expected_line));
        if (!more_actual && !more_expected) break;
        if (more_actual != more_expected || actual_line != expected_line) {
            ADD_FAILURE() << "line " << number << ": got \"" << (more_actual ? actual_line : "(end)")
                          << "\", expected \"" << (more_expected ? expected_line : "(end)") << "\"";
            return;
        }
    }
    EXPECT_EQ(actual.size(), expected.size()) << "the listings differ in their last line end";
}

const ranges example = {{ip("10.0.0.0"), ip("10.0.0.3")}, {ip("200.1.2.3"), ip("200.1.2.3")}};

struct listing_case {
    const char* name;
    ranges list;
    const char* expected;
};

TEST(listings, range_listing_writes_one_line_per_range)
{
    const listing_case cases[] = {
        {"example", example, "10.0.0.0-10.0.0.3\n200.1.2.3-200.1.2.3\n"},
        {"everything", {{0, top_address}}, "0.0.0.0-255.255.255.255\n"},
        {"empty", {}, ""},
        {"top address", {{top_address, top_address}}, "255.255.255.255-255.255.255.255\n"},
        {"octets of every width", {{ip("1.22.133.4"), ip("128.0.99.255")}},
         "1.22.133.4-128.0.99.255\n"},
    };
    for (const listing_case& row : cases) {
        range_list list = list_of(row.list);
        EXPECT_EQ(listing_text(range_list_write_ranges, list), row.expected)
            << row.name;
    }
}

TEST(listings, address_listing_writes_every_address)
{
    const listing_case cases[] = {
        {"example", example, "10.0.0.0\n10.0.0.1\n10.0.0.2\n10.0.0.3\n200.1.2.3\n"},
        {"empty", {}, ""},
        {"ends at the top", {{ip("255.255.255.254"), top_address}}, "255.255.255.254\n255.255.255.255\n"},
        {"starts at zero", {{0, 2}}, "0.0.0.0\n0.0.0.1\n0.0.0.2\n"},
        {"crosses a /24", {{ip("10.0.0.254"), ip("10.0.1.1")}},
         "10.0.0.254\n10.0.0.255\n10.0.1.0\n10.0.1.1\n"},
        {"crosses a /8", {{ip("9.255.255.255"), ip("10.0.0.0")}}, "9.255.255.255\n10.0.0.0\n"},
        {"octet widths change", {{ip("99.99.99.9"), ip("99.99.99.10")}, {ip("99.99.99.99"), ip("99.99.99.100")}},
         "99.99.99.9\n99.99.99.10\n99.99.99.99\n99.99.99.100\n"},
    };
    for (const listing_case& row : cases) {
        range_list list = list_of(row.list);
        EXPECT_EQ(listing_text(range_list_write_addresses, list), row.expected)
            << row.name;
    }
}

TEST(listings, address_listing_matches_one_by_one_over_a_whole_block)
{
    struct block_case {
        std::uint32_t first;
        std::uint32_t last;
        std::size_t capacity;
    };
    const block_case cases[] = {
        {ip("192.168.0.0"), ip("192.168.255.255"), 1 << 16},
        {ip("255.254.255.200"), top_address, 1 << 16},
        // A small buffer splits each /24 block over several windows.
        {ip("10.0.0.7"), ip("10.0.3.250"), 64},
        {ip("10.0.0.7"), ip("10.0.3.250"), 100},
    };
    for (const block_case& row : cases) {
        range_list list = list_of({{row.first, row.last}});
        expect_same_lines(listing_text(range_list_write_addresses, list, row.capacity),
                          addresses_one_by_one(row.first, row.last));
    }
}

TEST(listings, count_line_gives_ranges_cidr_blocks_and_addresses)
{
    const listing_case cases[] = {
        {"example", example, "2 2 5\n"},
        {"empty", {}, "0 0 0\n"},
        {"everything", {{0, top_address}}, "1 1 4294967296\n"},
        {"both ends", {{0, 0}, {top_address, top_address}}, "2 2 2\n"},
        {"all but the top", {{0, top_address - 1}}, "1 32 4294967295\n"},
        {"odd range", {{ip("10.0.0.5"), ip("10.0.0.255")}}, "1 7 251\n"},
    };
    for (const listing_case& row : cases) {
        range_list list = list_of(row.list);
        std::string text = listing_text(range_list_write_count, list);
        EXPECT_EQ(text, row.expected) << row.name;
        // The block count is the number of lines the CIDR listing writes.
        std::string cidr = listing_text(range_list_write_cidr, list);
        EXPECT_EQ(text.substr(text.find(' ') + 1, text.rfind(' ') - text.find(' ') - 1),
                  std::to_string(std::count(cidr.begin(), cidr.end(), '\n')))
            << row.name;
    }
}

} // namespace
} // namespace blockset
