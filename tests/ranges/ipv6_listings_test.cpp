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
using ranges = std::vector<ipv6_range>;

std::string listing(writer write, const ranges& items)
{
    ipv6_list list;
    for (const ipv6_range& range : items) ipv6_list_insert(list, range);
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
        {"2001:DB8:0:0:0:0:0:0001", "2001:db8::1"},         {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1"},
        {"2001:0:0:1:0:0:0:1", "2001:0:0:1::1"},          {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},
        {"0:0:0:0:0:0:0:0", "::"},                          {"1:0:0:0:0:0:0:0", "1::"},
        {"0:1:0:1:0:1:0:1", "0:1:0:1:0:1:0:1"},             {"::ffff:1.2.3.4", "::ffff:102:304"},
    };
    for (const auto& row : cases) {
        char text[max_ipv6_text];
        EXPECT_EQ(std::string(text, format_ipv6_address(text, v6(row.address))), row.expected) << row.address;
    }
}

const std::string top_text = "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff";

TEST(ipv6_listings, writes_the_edges_of_the_space)
{
    const ranges whole{{0, top}}, top_only{{top, top}}, zero{{0, 0}};
    const struct {
        writer write;
        ranges list;
        std::string expected;
    } cases[] = {
        {ipv6_list_write_cidr, whole, "::/0\n"},
        {ipv6_list_write_ranges, whole, "::-" + top_text + "\n"},
        {ipv6_list_write_count, whole, "1 1 340282366920938463463374607431768211456\n"},
        {ipv6_list_write_cidr, top_only, top_text + "/128\n"},
        {ipv6_list_write_addresses, top_only, top_text + "\n"},
        {ipv6_list_write_count, top_only, "1 1 1\n"},
        {ipv6_list_write_cidr, zero, "::/128\n"},
        {ipv6_list_write_ranges, zero, "::-::\n"},
        {ipv6_list_write_addresses, zero, "::\n"},
        {ipv6_list_write_count, {{0, top - 1}}, "1 128 340282366920938463463374607431768211455\n"},
        {ipv6_list_write_count, {}, "0 0 0\n"},
        {ipv6_list_write_count, {{0, 10'000'000'000'000'000'000u - 1}}, "1 19 10000000000000000000\n"},
        {ipv6_list_write_count, {{1, 1}, {v6("2001:db8::"), v6("2001:db8::") + (ipv6_address{1} << 96) - 1}},
         "2 2 79228162514264337593543950337\n"},
        {ipv6_list_write_cidr, {{v6("2001:db8::1"), v6("2001:db8::6")}},
         "2001:db8::1/128\n2001:db8::2/127\n2001:db8::4/127\n2001:db8::6/128\n"},
        {ipv6_list_write_addresses, {{v6("::fffe"), v6("::1:1")}}, "::fffe\n::ffff\n::1:0\n::1:1\n"},
    };
    for (const auto& row : cases) EXPECT_EQ(listing(row.write, row.list), row.expected) << row.expected;
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
        ranges list;
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
