#include "input/ipv6_literal.h"

#include <arpa/inet.h>

#include <random>
#include <string>

#include <gtest/gtest.h>

#include "ranges/ipv6_listings.h"
#include "test_support.h"

namespace blockset {
namespace {

/// The address the system's own parser reads from the text: an independent reference.
ipv6_address system_read(const std::string& text)
{
    unsigned char bytes[16];
    if (::inet_pton(AF_INET6, text.c_str(), bytes) != 1) ADD_FAILURE() << "reference refuses " << text;
    ipv6_address address = 0;
    for (unsigned char byte : bytes) address = address << 8 | byte;
    return address;
}

struct read_case {
    const char* text;
    const char* first; ///< as the system reads it
    const char* last;
    std::size_t length; ///< of the entry
};

TEST(ipv6_literal, reads_every_text_form)
{
    const read_case cases[] = {
        {"2001:db8:0:0:8:800:200c:417a", "2001:db8::8:800:200c:417a", "2001:db8::8:800:200c:417a", 28},
        {"2001:0DB8:0000:0000:0008:0800:200C:417A", "2001:db8::8:800:200c:417a", "2001:db8::8:800:200c:417a", 39},
        {"FF01::101", "ff01::101", "ff01::101", 9},
        {"::", "::", "::", 2},
        {"::1", "::1", "::1", 3},
        {"1::", "1::", "1::", 3},
        {"1:2:3:4:5:6:7::", "1:2:3:4:5:6:7:0", "1:2:3:4:5:6:7:0", 15},
        {"::2:3:4:5:6:7:8", "0:2:3:4:5:6:7:8", "0:2:3:4:5:6:7:8", 15},
        {"0:0:0:0:0:0:13.1.68.3", "::13.1.68.3", "::13.1.68.3", 21},
        {"::13.1.68.3", "::13.1.68.3", "::13.1.68.3", 11},
        {"1:2:3:4:5:6:1.2.3.4", "1:2:3:4:5:6:102:304", "1:2:3:4:5:6:102:304", 19},
        {"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff",
         "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", 39},
        // Blocks: the host bits are cleared.
        {"::/0", "::", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", 4},
        {"2001:db8::1/32", "2001:db8::", "2001:db8:ffff:ffff:ffff:ffff:ffff:ffff", 14},
        {"2001:db8::1/127", "2001:db8::", "2001:db8::1", 15},
        {"2001:db8::1/128", "2001:db8::1", "2001:db8::1", 15},
        {"8000::/1", "8000::", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", 8},
        {"::ffff:0:0/95", "::fffe:0:0", "::ffff:ffff:ffff", 13},
        // Ranges, two fields, and what ends an entry.
        {"2001:db8::1-2001:db8::ff", "2001:db8::1", "2001:db8::ff", 24},
        {"::1 - ::2", "::1", "::2", 9},
        {"::1\t-\t::2 # why", "::1", "::2", 9},
        {"::1 ::2", "::1", "::2", 7},
        {"::1 label", "::1", "::1", 3},
        {"::1 ::2 label", "::1", "::2", 7},
        {"::1#comment", "::1", "::1", 3},
        {"::/64//comment", "::", "::ffff:ffff:ffff:ffff", 5},
        {"::1;comment", "::1", "::1", 3},
        {"::1\r\n", "::1", "::1", 3},
        // P2P: the name ends at the first ':' an IPv6-looking range follows.
        {"Some name:2001:db8::1-2001:db8::5", "2001:db8::1", "2001:db8::5", 33},
        {"tor:exit: ::1 - ::9 # x", "::1", "::9", 19},
        {"name:::1-::2", "::1", "::2", 12},
    };
    for (const read_case& row : cases) {
        SCOPED_TRACE(row.text);
        ipv6_entry entry = read_ipv6_entry(row.text);
        EXPECT_EQ(entry.kind, ipv6_entry_kind::ipv6);
        EXPECT_TRUE(entry.range.first == system_read(row.first));
        EXPECT_TRUE(entry.range.last == system_read(row.last));
        EXPECT_EQ(entry.length, row.length);
    }
}

TEST(ipv6_literal, reads_mapped_entries_as_ipv4)
{
    using testing::ip;
    const struct {
        const char* text;
        ip_range expected;
    } cases[] = {
        {"::ffff:5.6.7.8", {ip("5.6.7.8"), ip("5.6.7.8")}},
        {"::FFFF:0506:0708", {ip("5.6.7.8"), ip("5.6.7.8")}},
        {"0:0:0:0:0:ffff:5.6.7.8", {ip("5.6.7.8"), ip("5.6.7.8")}},
        {"::ffff:0:0/96", {0, 0xFFFFFFFFu}},
        {"::ffff:10.1.2.3/104", {ip("10.0.0.0"), ip("10.255.255.255")}},
        {"::ffff:1.2.3.4 - ::ffff:1.2.4.0", {ip("1.2.3.4"), ip("1.2.4.0")}},
        {"name:::ffff:1.2.3.4-::ffff:1.2.3.9", {ip("1.2.3.4"), ip("1.2.3.9")}},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.text);
        ipv6_entry entry = read_ipv6_entry(row.text);
        EXPECT_EQ(entry.kind, ipv6_entry_kind::ipv4);
        EXPECT_EQ(entry.ipv4_range, row.expected);
    }
}

TEST(ipv6_literal, tells_refused_and_foreign_texts_apart)
{
    const struct {
        const char* text;
        ipv6_entry_kind kind;
    } cases[] = {
        {"fe80::1%eth0", ipv6_entry_kind::malformed},
        {"[2001:db8::1]", ipv6_entry_kind::malformed},
        {"[::1]/64", ipv6_entry_kind::malformed},
        {":::", ipv6_entry_kind::malformed},
        {"1:::2", ipv6_entry_kind::malformed},
        {"1::2::3", ipv6_entry_kind::malformed},
        {"::/129", ipv6_entry_kind::malformed},
        {"::/1280", ipv6_entry_kind::malformed},
        {"::/", ipv6_entry_kind::malformed},
        {"12345::", ipv6_entry_kind::malformed},
        {"::00001", ipv6_entry_kind::malformed},
        {"1:2:3:4:5:6:7", ipv6_entry_kind::malformed},
        {"1:2:3:4:5:6:7:8:9", ipv6_entry_kind::malformed},
        {"1:2:3:4::5:6:7:8", ipv6_entry_kind::malformed},
        {":1:2:3:4:5:6:7", ipv6_entry_kind::malformed},
        {"1:2:3:4:5:6:7:", ipv6_entry_kind::malformed},
        {"::1.2.3.256", ipv6_entry_kind::malformed},
        {"::1.2.3", ipv6_entry_kind::malformed},
        {"::1.2.3.4.5", ipv6_entry_kind::malformed},
        {"::1.2.3.4:5", ipv6_entry_kind::malformed},
        {"1:2:3:4:5:6:7:1.2.3.4", ipv6_entry_kind::malformed},
        {"::2-::1", ipv6_entry_kind::malformed},
        {"::1-", ipv6_entry_kind::malformed},
        {"::1-::2/64", ipv6_entry_kind::malformed},
        {"::1 ::2x", ipv6_entry_kind::ipv6}, // a label, not a second address
        {"1.2.3.4-::5", ipv6_entry_kind::malformed},
        {"name:::1", ipv6_entry_kind::malformed},
        {"name:2001:db8:::1-2001:db8::2", ipv6_entry_kind::malformed},
        {"1.2.3.4", ipv6_entry_kind::not_ipv6},
        {"1.2.3.4/24", ipv6_entry_kind::not_ipv6},
        {"name:1.2.3.4-1.2.3.5", ipv6_entry_kind::not_ipv6},
        {"a:b", ipv6_entry_kind::not_ipv6},
        {"host.example.com", ipv6_entry_kind::not_ipv6},
        {"http://example.com/list", ipv6_entry_kind::not_ipv6},
        {"", ipv6_entry_kind::not_ipv6},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(read_ipv6_entry(row.text).kind, row.kind);
    }
}

/// Every address reads back from its shortest text, and from its full text with leading
/// zeros in upper case, as the system's reader reads it.
TEST(ipv6_literal, reads_back_random_addresses)
{
    std::mt19937_64 random(6);
    for (int n = 0; n < 2000; ++n) {
        // Zero groups in random places, so that every place of "::" is met.
        ipv6_address address = 0;
        for (int group = 0; group < 8; ++group) {
            address = address << 16 | (random() % 3 == 0 ? 0 : random() % 0x10000);
        }
        char shortest[max_ipv6_text + 1] = {};
        format_ipv6_address(shortest, address);
        char full[max_ipv6_text + 1] = {};
        for (int group = 0; group < 8; ++group) {
            std::snprintf(full + 5 * group, 6, group < 7 ? "%04X:" : "%04X",
                          static_cast<unsigned>(address >> (112 - 16 * group)) & 0xFFFFu);
        }
        for (const char* text : {shortest, full}) {
            SCOPED_TRACE(text);
            ipv6_entry entry = read_ipv6_entry(text);
            bool mapped = (address >> 32) == 0xFFFF;
            EXPECT_EQ(entry.kind, mapped ? ipv6_entry_kind::ipv4 : ipv6_entry_kind::ipv6);
            EXPECT_TRUE(system_read(text) == address);
            if (!mapped) {
                EXPECT_TRUE(entry.range.first == address && entry.range.last == address);
            }
        }
    }
}

} // namespace
} // namespace blockset
