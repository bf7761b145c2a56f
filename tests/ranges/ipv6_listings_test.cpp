#include "ranges/ipv6_listings.h"

#include <arpa/inet.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "io/output_stream.h"
#include "ranges/ipv6_list.h"
#include "test_support.h"

namespace blockset {
namespace {

/// The address the system's reader makes of the text (test input only).
ipv6_address v6(const char* text)
{
    unsigned char bytes[16] = {};
    ::inet_pton(AF_INET6, text, bytes);
    ipv6_address address = 0;
    for (unsigned char byte : bytes) address = address << 8 | byte;
    return address;
}

constexpr ipv6_address top = ipv6_top_address;

using writer = void (*)(output_stream&, ipv6_list&);

std::string listing(writer write, const std::vector<ipv6_range>& ranges)
{
    ipv6_list list;
    for (const ipv6_range& range : ranges) ipv6_list_insert(list, range);
    testing::anonymous_file file;
    {
        output_stream out(file.fd());
        write(out, list);
        out.flush();
    }
    return file.text();
}

TEST(ipv6_listings, writes_the_shortest_standard_text)
{
    const struct {
        const char* address; ///< any text the system reads
        const char* expected;
    } cases[] = {
        {"2001:db8:0:0:0:0:0:1", "2001:db8::1"},
        {"2001:DB8:0:0:0:0:0:0001", "2001:db8::1"},
        {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1"}, // one zero group stays
        {"2001:0:0:1:0:0:0:1", "2001:0:0:1::1"},          // the longest run
        {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},    // the first of equal runs
        {"0:0:0:0:0:0:0:0", "::"},
        {"0:0:0:0:0:0:0:1", "::1"},
        {"1:0:0:0:0:0:0:0", "1::"},
        {"0:1:0:1:0:1:0:1", "0:1:0:1:0:1:0:1"},
        {"ABCD:EF01:2345:6789:ABCD:EF01:2345:6789", "abcd:ef01:2345:6789:abcd:ef01:2345:6789"},
        {"::ffff:1.2.3.4", "::ffff:102:304"}, // hexadecimal throughout
        {"::1.2.3.4", "::102:304"},
        {"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
    };
    for (const auto& row : cases) {
        char text[max_ipv6_text];
        char* end = format_ipv6_address(text, v6(row.address));
        EXPECT_EQ(std::string(text, end), row.expected) << row.address;
    }
}

const std::string top_text = "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff";

TEST(ipv6_listings, writes_the_edges_of_the_space)
{
    const std::vector<ipv6_range> whole{{0, top}}, top_only{{top, top}}, zero{{0, 0}}, below_top{{0, top - 1}},
        empty;
    const struct {
        const char* name;
        writer write;
        std::vector<ipv6_range> list;
        std::string expected;
    } cases[] = {
        {"whole cidr", ipv6_list_write_cidr, whole, "::/0\n"},
        {"whole ranges", ipv6_list_write_ranges, whole, "::-" + top_text + "\n"},
        {"whole count", ipv6_list_write_count, whole, "1 1 340282366920938463463374607431768211456\n"},
        {"top cidr", ipv6_list_write_cidr, top_only, top_text + "/128\n"},
        {"top single", ipv6_list_write_addresses, top_only, top_text + "\n"},
        {"top count", ipv6_list_write_count, top_only, "1 1 1\n"},
        {":: cidr", ipv6_list_write_cidr, zero, "::/128\n"},
        {":: ranges", ipv6_list_write_ranges, zero, "::-::\n"},
        {":: single", ipv6_list_write_addresses, zero, "::\n"},
        {"below top count", ipv6_list_write_count, below_top,
         "1 128 340282366920938463463374607431768211455\n"},
        {"empty cidr", ipv6_list_write_cidr, empty, ""},
        {"empty count", ipv6_list_write_count, empty, "0 0 0\n"},
        {"ten to the 19th", ipv6_list_write_count, {{0, 10'000'000'000'000'000'000u - 1}},
         "1 19 10000000000000000000\n"},
        {"two ranges count", ipv6_list_write_count, {{v6("2001:db8::"), v6("2001:db8:ffff:ffff:ffff:ffff:ffff:ffff")}, {1, 1}},
         "2 2 79228162514264337593543950337\n"},
        {"blocks of a range", ipv6_list_write_cidr, {{v6("2001:db8::1"), v6("2001:db8::6")}},
         "2001:db8::1/128\n2001:db8::2/127\n2001:db8::4/127\n2001:db8::6/128\n"},
        {"single across a group", ipv6_list_write_addresses, {{v6("::fffe"), v6("::1:1")}},
         "::fffe\n::ffff\n::1:0\n::1:1\n"},
        {"ranges in order", ipv6_list_write_ranges, {{v6("ff::"), v6("ff::1")}, {1, 2}},
         "::1-::2\nff::-ff::1\n"},
    };
    for (const auto& row : cases) {
        EXPECT_EQ(listing(row.write, row.list), row.expected) << row.name;
    }
}

TEST(ipv6_listings, cidr_blocks_below_the_top_halve_in_size)
{
    std::string expected;
    for (unsigned prefix = 1; prefix <= 128; ++prefix) {
        char text[max_ipv6_text];
        // The block of /prefix below the top: every bit above the prefix's last one set.
        char* end = format_ipv6_address(text, ~(top >> (prefix - 1)));
        expected += std::string(text, end) + "/" + std::to_string(prefix) + "\n";
    }
    EXPECT_EQ(listing(ipv6_list_write_cidr, {{0, top - 1}}), expected);
}

TEST(ipv6_listings, refuses_single_listings_above_two_to_the_24th)
{
    constexpr ipv6_address limit = ipv6_address{1} << 24;
    const struct {
        const char* name;
        std::vector<ipv6_range> list;
        bool listable;
    } cases[] = {
        {"empty", {}, true},
        {"exactly the limit", {{top - limit + 1, top}}, true},
        {"one more", {{top - limit, top}}, false},
        {"two ranges at the limit", {{0, limit / 2 - 1}, {top - limit / 2 + 1, top}}, true},
        {"two ranges past it", {{0, limit / 2}, {top - limit / 2 + 1, top}}, false},
        {"the whole space", {{0, top}}, false},
        {"a range past 2^64", {{0, ipv6_address{1} << 70}}, false},
    };
    for (const auto& row : cases) {
        ipv6_list list;
        for (const ipv6_range& range : row.list) ipv6_list_insert(list, range);
        EXPECT_EQ(ipv6_list_addresses_listable(list), row.listable) << row.name;
    }
}

} // namespace
} // namespace blockset
