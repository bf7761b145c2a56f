#include "ranges/listings.h"

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "io/output_stream.h"
#include "ranges/range_list.h"
#include "test_support.h"

namespace blockset {
namespace {

using testing::dotted;
using testing::ip;
using testing::one;
using testing::ranges;
using testing::span;

using writer = void (*)(output_stream&, range_list&);

std::string lines(std::initializer_list<std::string> items)
{
    std::string text;
    for (const std::string& line : items) text += line + "\n";
    return text;
}

struct listing_case {
    const char* name;
    writer write;
    ranges list;
    std::string expected;
};
void PrintTo(const listing_case& row, std::ostream* out) { *out << row.name; }

/// Every address of the range, written the slow, obvious way.
listing_case every_address(const char* name, std::uint32_t first, std::uint32_t last)
{
    std::string text;
    for (std::uint64_t address = first; address <= last; ++address)
        text += dotted(static_cast<std::uint32_t>(address)) + "\n";
    return {name, range_list_write_addresses, {{first, last}}, text};
}

/// 1 to the top: 0.0.0.1/32, 0.0.0.2/31, ..., 64.0.0.0/2, 128.0.0.0/1.
listing_case doubling_blocks()
{
    std::string text;
    for (unsigned prefix = 32; prefix >= 1; --prefix)
        text += dotted(std::uint32_t{1} << (32 - prefix)) + "/" + std::to_string(prefix) + "\n";
    return {"cidr doubling up to the top", range_list_write_cidr, {{1, top_address}}, text};
}

/// 0 to below the top: 0.0.0.0/1, 128.0.0.0/2, ..., 255.255.255.252/31, 255.255.255.254/32.
listing_case halving_blocks()
{
    std::string text;
    for (unsigned prefix = 1; prefix <= 32; ++prefix)
        text += dotted(static_cast<std::uint32_t>(~std::uint64_t{0} << (33 - prefix))) + "/" +
                std::to_string(prefix) + "\n";
    return {"cidr halving down below the top", range_list_write_cidr, {{0, top_address - 1}}, text};
}

/// Thousands of single addresses, one block each.
listing_case every_other_address()
{
    listing_case row{"cidr thousands of blocks", range_list_write_cidr, {}, ""};
    for (std::uint32_t address = ip("172.16.0.0"); address < ip("172.16.39.16"); address += 2) {
        row.list.push_back({address, address});
        row.expected += dotted(address) + "/32\n";
    }
    return row;
}

const ranges example = {span("10.0.0.0", "10.0.0.3"), one("200.1.2.3")};

/// The line of the text that holds the byte at offset.
std::string line_at(const std::string& text, std::size_t offset)
{
    std::size_t start = offset == 0 ? 0 : text.rfind('\n', offset - 1) + 1; // npos + 1 is 0
    return text.substr(start, text.find('\n', start) - start);
}

/// Small buffers are refilled many times, splitting lines and /24 blocks between windows. A
/// difference is shown as its first line: a diff of megabytes would cost too much memory.
void expect_written(const listing_case& row)
{
    SCOPED_TRACE(row.name);
    for (std::size_t capacity : {std::size_t{64}, std::size_t{100}, std::size_t{1} << 16}) {
        range_list list = testing::list_of(row.list);
        const std::string got = testing::listing_text(row.write, list, capacity);
        if (got == row.expected) continue;
        auto at = static_cast<std::size_t>(
            std::mismatch(got.begin(), got.end(), row.expected.begin(), row.expected.end()).first - got.begin());
        ADD_FAILURE() << "buffer of " << capacity << ", line " << std::count(got.begin(), got.begin() + at, '\n') + 1
                      << ": got \"" << line_at(got, at) << "\", expected \"" << line_at(row.expected, at) << "\"";
    }
}

class listing : public ::testing::TestWithParam<listing_case> {};

TEST_P(listing, writes_the_expected_lines) { expect_written(GetParam()); }

// Built when run, not when every test process starts.
TEST(listings, long_listings_match_their_slow_forms)
{
    for (const listing_case& row : {every_address("addresses of a /16", ip("192.168.0.0"), ip("192.168.255.255")),
                                    every_address("addresses up to the top", ip("255.254.255.200"), top_address),
                                    every_other_address()})
        expect_written(row);
}

const writer as_ranges = range_list_write_ranges, as_addresses = range_list_write_addresses,
             as_cidr = range_list_write_cidr, as_count = range_list_write_count;

INSTANTIATE_TEST_SUITE_P(
    listings, listing,
    ::testing::Values(
        listing_case{"ranges example", as_ranges, example, "10.0.0.0-10.0.0.3\n200.1.2.3-200.1.2.3\n"},
        listing_case{"ranges everything", as_ranges, {{0, top_address}}, "0.0.0.0-255.255.255.255\n"},
        listing_case{"ranges empty", as_ranges, {}, ""},
        listing_case{"ranges top address", as_ranges, {{top_address, top_address}},
                     "255.255.255.255-255.255.255.255\n"},
        listing_case{"ranges octets of every width", as_ranges, {span("1.22.133.4", "128.0.99.255")},
                     "1.22.133.4-128.0.99.255\n"},

        listing_case{"addresses example", as_addresses, example, "10.0.0.0\n10.0.0.1\n10.0.0.2\n10.0.0.3\n200.1.2.3\n"},
        listing_case{"addresses empty", as_addresses, {}, ""},
        listing_case{"addresses end at the top", as_addresses, {{ip("255.255.255.254"), top_address}},
                     "255.255.255.254\n255.255.255.255\n"},
        listing_case{"addresses start at zero", as_addresses, {{0, 2}}, "0.0.0.0\n0.0.0.1\n0.0.0.2\n"},
        listing_case{"addresses cross a /8", as_addresses, {span("9.255.255.255", "10.0.0.0")},
                     "9.255.255.255\n10.0.0.0\n"},
        listing_case{"addresses change octet widths", as_addresses,
                     {span("99.99.99.9", "99.99.99.10"), span("99.99.99.99", "99.99.99.100")},
                     "99.99.99.9\n99.99.99.10\n99.99.99.99\n99.99.99.100\n"},
        every_address("addresses of unaligned /24s", ip("10.0.0.7"), ip("10.0.3.250")),

        // A range becomes the fewest aligned blocks.
        listing_case{"cidr /24", as_cidr, {span("10.0.0.0", "10.0.0.255")}, "10.0.0.0/24\n"},
        listing_case{"cidr unaligned start", as_cidr, {span("10.0.0.5", "10.0.0.255")},
                     lines({"10.0.0.5/32", "10.0.0.6/31", "10.0.0.8/29", "10.0.0.16/28", "10.0.0.32/27",
                            "10.0.0.64/26", "10.0.0.128/25"})},
        listing_case{"cidr both ends unaligned", as_cidr, {span("10.0.0.1", "10.0.0.6")},
                     lines({"10.0.0.1/32", "10.0.0.2/31", "10.0.0.4/31", "10.0.0.6/32"})},
        listing_case{"cidr unaligned end", as_cidr, {span("10.0.0.0", "10.1.2.3")},
                     lines({"10.0.0.0/16", "10.1.0.0/23", "10.1.2.0/30"})},
        listing_case{"cidr everything", as_cidr, {{0, top_address}}, "0.0.0.0/0\n"},
        listing_case{"cidr zero", as_cidr, {one("0.0.0.0")}, "0.0.0.0/32\n"},
        listing_case{"cidr top address", as_cidr, {one("255.255.255.255")}, "255.255.255.255/32\n"},
        listing_case{"cidr top pair", as_cidr, {span("255.255.255.254", "255.255.255.255")}, "255.255.255.254/31\n"},
        doubling_blocks(), halving_blocks(),
        listing_case{"cidr empty", as_cidr, {}, ""},
        listing_case{"cidr reversed range dropped", as_cidr, {span("10.0.0.9", "10.0.0.1")}, ""},
        listing_case{"cidr ascending whatever the order", as_cidr,
                     {one("192.168.1.12"), span("10.0.0.0", "10.255.255.255"), span("192.168.0.0", "192.168.1.10")},
                     lines({"10.0.0.0/8", "192.168.0.0/24", "192.168.1.0/29", "192.168.1.8/31", "192.168.1.10/32",
                            "192.168.1.12/32"})},

        // Ranges, CIDR blocks, addresses.
        listing_case{"count example", as_count, example, "2 2 5\n"},
        listing_case{"count empty", as_count, {}, "0 0 0\n"},
        listing_case{"count everything", as_count, {{0, top_address}}, "1 1 4294967296\n"},
        listing_case{"count both ends", as_count, {{0, 0}, {top_address, top_address}}, "2 2 2\n"},
        listing_case{"count all but the top", as_count, {{0, top_address - 1}}, "1 32 4294967295\n"},
        listing_case{"count odd range", as_count, {span("10.0.0.5", "10.0.0.255")}, "1 7 251\n"}),
    testing::named_by<&listing_case::name>());

} // namespace
} // namespace blockset
