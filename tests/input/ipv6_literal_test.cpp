#include "input/ipv6_literal.h"

#include <string>

#include <gtest/gtest.h>

#include "ranges/ipv6_listings.h"
#include "test_support.h"

namespace blockset {
namespace {

std::string text_of(ipv6_address address)
{
    char text[max_ipv6_text];
    return {text, format_ipv6_address(text, address)};
}

/// "first-last @length", "v4 first-last @length", "malformed" or "not IPv6".
std::string described(const ipv6_entry& entry)
{
    std::string length = " @" + std::to_string(entry.length);
    switch (entry.kind) {
    case ipv6_entry_kind::ipv6: return text_of(entry.range.first) + "-" + text_of(entry.range.last) + length;
    case ipv6_entry_kind::ipv4:
        return "v4 " + testing::dotted(entry.ipv4_range.first) + "-" + testing::dotted(entry.ipv4_range.last) + length;
    case ipv6_entry_kind::malformed: return "malformed";
    default: return "not IPv6";
    }
}

const std::string top = "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff";

TEST(ipv6_literal, reads_and_refuses_entries)
{
    const struct {
        std::string text, expected;
    } cases[] = {
        {"2001:DB8:0:0:8:800:200C:417A", "2001:db8::8:800:200c:417a-2001:db8::8:800:200c:417a @28"},
        {"2001:0db8:0000:0000:0000:0000:0000:00ff", "2001:db8::ff-2001:db8::ff @39"},
        {"::", "::-:: @2"},
        {"1::", "1::-1:: @3"},
        {"::2:3:4:5:6:7:8", "0:2:3:4:5:6:7:8-0:2:3:4:5:6:7:8 @15"},
        {"0:0:0:0:0:0:13.1.68.3", "::d01:4403-::d01:4403 @21"},
        {"1:2:3:4:5:6:1.2.3.4", "1:2:3:4:5:6:102:304-1:2:3:4:5:6:102:304 @19"},
        {top, top + "-" + top + " @39"},
        // Blocks lose their host bits; ranges, two fields, and the ends of an entry.
        {"::/0", "::-" + top + " @4"},
        {"2001:db8::1/127", "2001:db8::-2001:db8::1 @15"},
        {"2001:db8::1/128", "2001:db8::1-2001:db8::1 @15"},
        {"::ffff:0:0/95", "::fffe:0:0-::ffff:ffff:ffff @13"},
        {"::1-::ff", "::1-::ff @8"},
        {"::1\t- ::2 # why", "::1-::2 @9"},
        {"::1 ::2 label", "::1-::2 @7"},
        {"::1 label", "::1-::1 @3"},
        {"::1 ::2x", "::1-::1 @3"},
        {"::/64//comment", "::-::ffff:ffff:ffff:ffff @5"},
        {"::1;comment\r\n", "::1-::1 @3"},
        {"Some name:2001:db8::1-2001:db8::5", "2001:db8::1-2001:db8::5 @33"},
        {"tor:exit: ::1 - ::9 # x", "::1-::9 @19"},
        // IPv4-mapped entries are the IPv4 ranges they carry.
        {"::ffff:5.6.7.8", "v4 5.6.7.8-5.6.7.8 @14"},
        {"::FFFF:0506:0708", "v4 5.6.7.8-5.6.7.8 @16"},
        {"::ffff:0:0/96", "v4 0.0.0.0-255.255.255.255 @13"},
        {"::ffff:10.1.2.3/104", "v4 10.0.0.0-10.255.255.255 @19"},
        {"name:::ffff:1.2.3.4-::ffff:1.2.3.9", "v4 1.2.3.4-1.2.3.9 @34"},
        // Refused.
        {"fe80::1%eth0", "malformed"},
        {"[2001:db8::1]", "malformed"},
        {":::", "malformed"},
        {"1:::2", "malformed"},
        {"1::2::3", "malformed"},
        {"::/129", "malformed"},
        {"::/1280", "malformed"},
        {"::/", "malformed"},
        {"12345::", "malformed"},
        {"1:2:3:4:5:6:7", "malformed"},
        {"1:2:3:4:5:6:7:8:9", "malformed"},
        {"1:2:3:4::5:6:7:8", "malformed"},
        {":1:2:3:4:5:6:7", "malformed"},
        {"1:2:3:4:5:6:7:", "malformed"},
        {"::1.2.3.256", "malformed"},
        {"::1.2.3.4:5", "malformed"},
        {"1:2:3:4:5:6:7:1.2.3.4", "malformed"},
        {"::2-::1", "malformed"},
        {"::1-::2/64", "malformed"},
        {"name:::1", "malformed"},
        {"name:2001:db8:::1-2001:db8::2", "malformed"},
        {"1.2.3.4/24", "not IPv6"},
        {"name:1.2.3.4-1.2.3.5", "not IPv6"},
        {"a:b", "not IPv6"},
        {"http://example.com/list", "not IPv6"},
        {"", "not IPv6"},
    };
    for (const auto& row : cases) EXPECT_EQ(described(read_ipv6_entry(row.text)), row.expected) << row.text;
}

} // namespace
} // namespace blockset
