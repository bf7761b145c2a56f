#include "match/line_addresses.h"

#include <string>

#include <gtest/gtest.h>

#include "ranges/ipv6_listings.h"
#include "test_support.h"

namespace blockset {
namespace {

/// The addresses of a line as "text@offset", separated by blanks.
std::string addresses_of(const std::string& line)
{
    std::string shown;
    line_addresses_each(line, [&](const line_address& address) {
        std::string text = testing::dotted(address.ipv4);
        if (address.is_ipv6) {
            char ipv6[max_ipv6_text];
            text.assign(ipv6, format_ipv6_address(ipv6, address.ipv6));
        }
        if (!shown.empty()) shown += ' ';
        shown += text + "@" + std::to_string(address.offset);
        EXPECT_GT(address.length, 0u) << line;
        return false;
    });
    return shown;
}

TEST(line_addresses, finds_the_addresses_a_line_shows)
{
    const struct {
        std::string line, expected;
    } cases[] = {
        // IPv4: bytes around the quad that leave it whole.
        {"1.2.3.4", "1.2.3.4@0"},
        {"1.2.3.4:80", "1.2.3.4@0"},
        {"(1.2.3.4)", "1.2.3.4@1"},
        {"x1.2.3.4y", "1.2.3.4@1"},
        {"ip=1.2.3.4,", "1.2.3.4@3"},
        {"a1.2.3.4", "1.2.3.4@1"},
        {"seen 1.2.3.4.", "1.2.3.4@5"},
        {"1.2.3.4.x", "1.2.3.4@0"},
        {"01.002.3.4", "1.2.3.4@0"},
        {"0.0.0.0 255.255.255.255", "0.0.0.0@0 255.255.255.255@8"},
        {"from 10.0.0.1 to 10.0.0.2\r", "10.0.0.1@5 10.0.0.2@17"},
        {"::ffff:10.0.0.1:8080", "10.0.0.1@7"},
        // IPv4: what is no address, or part of something longer.
        {"1.2.3.4.5", ""},
        {"11.2.3.4.5", ""},
        {"1198.51.100.7", ""},
        {".1.2.3.4", ""},
        {"1.2.3.256", ""},
        {"1.2.3.1234", ""},
        {"1.2.3", ""},
        {"1.2.3.-4", ""},
        {"version 1.2.3.4.5.6", ""},
        // IPv6: forms, brackets, ports, mapped IPv4.
        {"[2001:db8::1]:443", "2001:db8::1@1"},
        {"2001:DB8:0:0:0:0:0:1", "2001:db8::1@0"},
        {"1:2:3:4:5:6:7:8", "1:2:3:4:5:6:7:8@0"},
        {"::1 and 1::", "::1@0 1::@8"},
        {"::ffff:1.2.3.4", "1.2.3.4@0"},
        {"::FFFF:0102:0304", "1.2.3.4@0"},
        {"64:ff9b::192.0.2.33", "64:ff9b::c000:221@0"},
        {"fe80::1%eth0", "fe80::1@0"},
        {"2001:db8::/32", "2001:db8::@0"},
        {"see 2001:db8::1.", "2001:db8::1@4"},
        {"client 2001:db8::5 port 443, 192.0.2.1", "2001:db8::5@7 192.0.2.1@29"},
        // IPv6: what is no address.
        {"01:22:05", ""},
        {"00:11:22:33:44:55", ""},
        {"2001:db8::1:", ""},
        {"a2001:db8::1", ""},
        {"2001:db8::1.5", ""},
        {"1::2::3", ""},
        {":::1", ""},
        {"12345::1", ""},
        {"::ffff:1.2.3.4.5", ""},
        {"", ""},
        {"no address here", ""},
    };
    for (const auto& row : cases) EXPECT_EQ(addresses_of(row.line), row.expected) << row.line;
}

TEST(line_addresses, bytes_of_any_value_and_long_stretches)
{
    std::string line("\0\xff" "1.2.3.4\0" "5.6.7.8", 17);
    EXPECT_EQ(addresses_of(line), "1.2.3.4@2 5.6.7.8@10");
    // Eight-byte steps over a long stretch still find an address at every position.
    for (std::size_t pad = 0; pad < 20; ++pad) {
        EXPECT_EQ(addresses_of(std::string(pad, 'x') + "9.8.7.6"), "9.8.7.6@" + std::to_string(pad));
    }
}

TEST(line_addresses, stops_when_asked)
{
    int calls = 0;
    bool stopped = line_addresses_each(std::string("1.1.1.1 2.2.2.2 3.3.3.3"), [&](const line_address&) { return ++calls == 2; });
    EXPECT_TRUE(stopped);
    EXPECT_EQ(calls, 2);
}

} // namespace
} // namespace blockset
