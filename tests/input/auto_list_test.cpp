#include "input/auto_list.h"

#include <cerrno>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "io/diagnostics.h"
#include "io/file_opener.h"
#include "io/output_stream.h"
#include "input/list_entry.h"
#include "parallel/lines_ahead.h"
#include "platform/helper_thread.h"
#include "ranges/ipv6_list.h"
#include "ranges/ipv6_listings.h"
#include "ranges/range_list.h"
#include "test_support.h"

namespace blockset {
namespace {

using testing::gzip;
using testing::ip;
using testing::one;
using testing::ranges;
using testing::ranges_of;
using testing::span;
using namespace std::string_literals;

/// What "list.txt" holds while a test reads it; every other path does not exist.
std::string served;

int serve_list(const char* path, int, mode_t)
{
    if (std::strcmp(path, "list.txt") != 0) {
        errno = ENOENT;
        return -1;
    }
    return ::dup(testing::anonymous_file(served).fd());
}

struct outcome {
    int result;
    ranges read;
    std::string messages;
    std::string ipv6; // the IPv6 list's ranges, "first-last" one a line
};

/// The IPv6 list's ranges, "first-last" one a line.
std::string ipv6_text(ipv6_list& ipv6)
{
    testing::anonymous_file file;
    {
        output_stream out(file.fd(), 1 << 16);
        ipv6_list_write_ranges(out, ipv6);
        out.flush();
    }
    return file.text();
}

outcome read_bytes(const std::string& bytes, const char* path = "list.txt")
{
    served = bytes;
    path_calls calls = system_path_calls();
    calls.open = &serve_list;
    path_calls_override opener(calls);
    range_list list;
    ipv6_list ipv6;
    diagnostic_capture capture;
    int result = auto_list_read(path, list, ipv6);
    return {result, ranges_of(list), capture.text(), ipv6_text(ipv6)};
}

struct line_case {
    const char* what;
    std::string bytes;
    ranges expected;
    std::string messages; // as read from "list.txt"
    std::string ipv6 = "";
};
void PrintTo(const line_case& row, std::ostream* out) { *out << row.what; }

void expect_read(const line_case& c)
{
    SCOPED_TRACE(c.what);
    outcome got = read_bytes(c.bytes);
    EXPECT_EQ(got.read, c.expected);
    EXPECT_EQ(got.messages, c.messages);
    EXPECT_EQ(got.ipv6, c.ipv6);
    // Every message tells of input that was not read.
    EXPECT_EQ(got.result, c.messages.empty() ? 0 : -1);
}

class auto_list_lines : public ::testing::TestWithParam<line_case> {};

TEST_P(auto_list_lines, reads_each_shape) { expect_read(GetParam()); }

/// n unreadable lines, each followed by an address: ten are shown and the rest counted.
line_case unreadable_lines(int n)
{
    line_case c{"unreadable lines", "", {span("1.2.3.1", ("1.2.3." + std::to_string(n)).c_str())}, ""};
    for (int i = 1; i <= n; ++i) {
        c.bytes += "bad" + std::to_string(i) + "\n1.2.3." + std::to_string(i) + "\n";
        if (i <= 10) c.messages += "'list.txt' line " + std::to_string(2 * i - 1) + ": cannot read 'bad" + std::to_string(i) + "'\n";
    }
    if (n > 10) c.messages += "'list.txt': unreadable lines not shown: " + std::to_string(n - 10) + "\n";
    return c;
}

std::string repeated(const std::string& text, int times)
{
    std::string all;
    for (int i = 0; i < times; ++i) all += text;
    return all;
}

const std::string long_label(70, 'z');
const std::string kinds_text = "1.10.16.0/20 ; SBL256894\nname:1.2.3.0-1.2.3.255\n";
const std::string p2b = "\xFF\xFF\xFF\xFFP2B\x01"s + "a\0"s + "\x01\x02\x03\x00\x01\x02\x03\xFF"s;
const ranges kinds_read{span("1.2.3.0", "1.2.3.255"), span("1.10.16.0", "1.10.31.255")};
const std::string cannot_read = "Error reading file 'list.txt'.\n";

INSTANTIATE_TEST_SUITE_P(
    auto_list, auto_list_lines,
    ::testing::Values(
        line_case{"address", "192.0.2.7\n", {one("192.0.2.7")}, ""},
        line_case{"blanks around", " \t192.0.2.7 \t\n", {one("192.0.2.7")}, ""},
        line_case{"leading zeros are decimal", "01.002.3.4\n", {one("1.2.3.4")}, ""},
        line_case{"host bits cleared", "10.1.2.3/16\n", {span("10.1.0.0", "10.1.255.255")}, ""},
        line_case{"prefix 0", "1.2.3.4/0\n", {span("0.0.0.0", "255.255.255.255")}, ""},
        line_case{"prefix 32", "1.2.3.4/32\n", {one("1.2.3.4")}, ""},
        line_case{"netmask", "198.51.100.9/255.255.255.0\n", {span("198.51.100.0", "198.51.100.255")}, ""},
        line_case{"netmask of all ones and of none", "1.2.3.4/255.255.255.255\n5.6.7.8/0.0.0.0\n",
                  {span("0.0.0.0", "255.255.255.255")}, ""},
        line_case{"range", "1.2.3.4-1.2.3.9\n", {span("1.2.3.4", "1.2.3.9")}, ""},
        line_case{"spaced range", "1.2.3.4 - 1.2.3.9\n1.2.4.0\t-1.2.4.1\n",
                  {span("1.2.3.4", "1.2.3.9"), span("1.2.4.0", "1.2.4.1")}, ""},
        line_case{"P2P with colons in the name", "Some: odd name:1.2.3.0-1.2.3.255\nx:5.0.0.1 - 5.0.0.2\n",
                  {span("1.2.3.0", "1.2.3.255"), span("5.0.0.1", "5.0.0.2")}, ""},
        line_case{"columns", "1.2.3.4\t1.2.3.9\t29\tlabel\n5.5.5.5 5.5.5.6\n",
                  {span("1.2.3.4", "1.2.3.9"), span("5.5.5.5", "5.5.5.6")}, ""},
        line_case{"label after an entry", "1.2.3.4 some label 9.9.9.9\n2.0.0.0/8 x\n3.0.0.1-3.0.0.2 y\n",
                  {one("1.2.3.4"), span("2.0.0.0", "2.255.255.255"), span("3.0.0.1", "3.0.0.2")}, ""},
        line_case{"comments", "# a\n; b\n// c\n  # d\n1.2.3.4 ; SBL1\n1.2.3.5#x\n1.2.3.6;x\n1.2.3.7//x\n",
                  {span("1.2.3.4", "1.2.3.7")}, ""},
        line_case{"empty lines and none at the end", "\n\n \t\n1.2.3.4", {one("1.2.3.4")}, ""},
        line_case{"CRLF and CR", "1.0.0.1\r\n\r\n2.0.0.1\r3.0.0.1\rx\r\n",
                  {one("1.0.0.1"), one("2.0.0.1"), one("3.0.0.1")}, "'list.txt' line 5: cannot read 'x'\n"},
        line_case{"reversed range", "1.2.3.9-1.2.3.4\n", {}, "'list.txt' line 1: cannot read '1.2.3.9-1.2.3.4'\n"},
        line_case{"reversed columns", "1.2.3.9 1.2.3.4\n", {}, "'list.txt' line 1: cannot read '1.2.3.9 1.2.3.4'\n"},
        line_case{"bad forms", "256.1.1.1\n1.2.3.4x\n1.2.3.4.5\n1.2.3.4/33\n1.2.3.4/255.0.255.0\n1.2.3.4-\n"
                               "1.2.3.4 - x\n1.2.3.4 300.1.1.1\nname:1.2.3.4\nexample.com\n",
                  {},
                  "'list.txt' line 1: cannot read '256.1.1.1'\n'list.txt' line 2: cannot read '1.2.3.4x'\n"
                  "'list.txt' line 3: cannot read '1.2.3.4.5'\n'list.txt' line 4: cannot read '1.2.3.4/33'\n"
                  "'list.txt' line 5: cannot read '1.2.3.4/255.0.255.0'\n'list.txt' line 6: cannot read '1.2.3.4-'\n"
                  "'list.txt' line 7: cannot read '1.2.3.4 - x'\n'list.txt' line 8: cannot read '1.2.3.4 300.1.1.1'\n"
                  "'list.txt' line 9: cannot read 'name:1.2.3.4'\n'list.txt' line 10: cannot read 'example.com'\n"},
        line_case{"text shown safely and cut", "  bad\\\x01\xff'" + long_label + "  \n", {},
                  "'list.txt' line 1: cannot read 'bad\\\\\\x01\\xff'" + std::string(53, 'z') + "'\n"},
        unreadable_lines(10), unreadable_lines(14),
        line_case{"IPv6 entries beside IPv4", "2001:db8::/32\n::1 ; x\n2001:DB8::1 - 2001:db9::5\n1.2.3.4\n",
                  {one("1.2.3.4")}, "", "::1-::1\n2001:db8::-2001:db9::5\n"},
        line_case{"IPv4-mapped entries", "::ffff:1.2.3.4\n::ffff:c000:200/120\nbl:::ffff:5.0.0.1-::ffff:5.0.0.9\n",
                  {one("1.2.3.4"), span("5.0.0.1", "5.0.0.9"), span("192.0.2.0", "192.0.2.255")}, ""},
        line_case{"IPv6 forms refused", "fe80::1%eth0\n[::1]\n:::1\n::/129\n12345::\n2001:db8::2 2001:db8::1\n::1\n",
                  {},
                  "'list.txt' line 1: cannot read 'fe80::1%eth0'\n'list.txt' line 2: cannot read '[::1]'\n"
                  "'list.txt' line 3: cannot read ':::1'\n'list.txt' line 4: cannot read '::/129'\n"
                  "'list.txt' line 5: cannot read '12345::'\n'list.txt' line 6: cannot read '2001:db8::2 2001:db8::1'\n",
                  "::1-::1\n"},
        // Shapes shown by a line the plain forms cannot read.
        line_case{"JSON lines", "{\"cidr\":\"192.0.2.0/25\",\"sblid\":\"SBL1\"}\r\n{\"cidr\":\"2001:db8::/32\"}\n"
                                "{\"type\":\"metadata\",\"size\":2}\n",
                  {span("192.0.2.0", "192.0.2.127")}, "", "2001:db8::-2001:db8:ffff:ffff:ffff:ffff:ffff:ffff\n"},
        line_case{"JSON document", "{\r\n \"prefixes\": [{\"ip_prefix\": \"198.51.100.0/24\", \"s\": \"A\"},\n"
                                   "  {\"ip_prefix\": \"198.51.100.0/24\", \"s\": \"B\"}],\n"
                                   " \"x\": {\"deep\": [[{\"start\": \"192.0.2.9\", \"end\": \"192.0.2.10\"}]]}}\n",
                  {span("192.0.2.9", "192.0.2.10"), span("198.51.100.0", "198.51.100.255")}, ""},
        line_case{"JSON document damaged", "[\n {\"ip\": \"192.0.2.1\"}\n {\"ip\": \"192.0.2.2\"}]\n", {},
                  "'list.txt' line 3: damaged JSON at column 2\n"},
        line_case{"JSON field that is no address", "[{\"ip\": \"192.0.2.1\"}, {\"ip\": 7},\n {\"ip_address\": \"12:00:00\"}]\n",
                  {one("192.0.2.1")}, "'list.txt': cannot read address ''\n'list.txt': cannot read address '12:00:00'\n"},
        line_case{"JSON document nested as deep as it may be", std::string(511, '[') + "\n{\"ip\": \"192.0.2.1\"}" + std::string(511, ']'),
                  {one("192.0.2.1")}, ""},
        line_case{"JSON document nested too deep", "{\"ip\": \"192.0.2.1\", \"x\":\n" + repeated("[\n", 512) + "]", {},
                  "'list.txt' line 513: JSON nested deeper than 512 levels\n"},
        line_case{"JSON line nested too deep", "{\"ip\": \"192.0.2.1\"}\n" + std::string(513, '[') + std::string(513, ']') + "\n",
                  {one("192.0.2.1")}, "'list.txt' line 2: cannot read '" + std::string(60, '[') + "'\n"},
        line_case{"JSON objects inside one with an address", "[\n{\"about\": [{\"ip\": \"bad\"}, {\"ip\": \"192.0.2.9\"}], \"cidr\": \"192.0.2.0/31\"},\n"
                                                        + repeated("{\"ip\": \"x\"},\n", 11) + "{\"ip\": \"2001:db8::1\"}]\n",
                  {span("192.0.2.0", "192.0.2.1")},
                  repeated("'list.txt': cannot read address 'x'\n", 10) + "'list.txt': unreadable lines not shown: 1\n", "2001:db8::1-2001:db8::1\n"},
        line_case{"quoted CSV under a header", "\"seen\",\"dst_ip\",\"port\"\n\"2024-01-01 12:00:00\",\"192.0.2.7\",\"443\"\n"
                                              "\"a, b\" , 192.0.2.8,\"x\"\"y\"\n",
                  {span("192.0.2.7", "192.0.2.8")}, ""},
        line_case{"rows by the header's delimiter", "# c\nstart;end;country\n192.0.2.0;192.0.2.63;ZZ\n198.51.100.1;x\nbad;row\nname:203.0.113.1-203.0.113.2\n",
                  {span("192.0.2.0", "192.0.2.63"), one("198.51.100.1"), span("203.0.113.1", "203.0.113.2")},
                  "'list.txt' line 5: cannot read 'bad;row'\n"},
        line_case{"rows without a header", "192.0.2.0,192.0.2.9,ZZ\nmail@example.com,443,12:00:00,198.51.100.0/24,x\n"
                                           "192.0.2.9,192.0.2.1\n",
                  {span("192.0.2.0", "192.0.2.9"), span("198.51.100.0", "198.51.100.255")},
                  "'list.txt' line 3: cannot read '192.0.2.9,192.0.2.1'\n"},
        line_case{"tab header over rows with empty fields", "Start\tEnd\tNetblock\tName\n192.0.2.0\t192.0.2.255\t24\t\n"
                                                                  "2001:db8::\t2001:db8::ff\t120\t\n# END\n",
                  {span("192.0.2.0", "192.0.2.255")}, "", "2001:db8::-2001:db8::ff\n"},
        line_case{"IPv6 in fields and JSON", "2001:db8::9,2001:db8::1,x\n12:00:00,2001:db8::/127,x\n"
                                             "{\"start\": \"::5\", \"end\": \"::7\"}\n",
                  {}, "'list.txt' line 1: cannot read '2001:db8::9,2001:db8::1,x'\n", "::5-::7\n2001:db8::-2001:db8::1\n"},
        line_case{"Tor exit records", "ExitNode 00AA\nPublished 2024-01-01 12:00:00\nLastStatus 2024-01-01 13:00:00\n"
                                      "ExitAddress 192.0.2.44 2024-01-01 13:05:00\nExitAddress x\n",
                  {one("192.0.2.44")}, "'list.txt' line 5: cannot read 'ExitAddress x'\n"},
        line_case{"records of Tor in another list", "192.0.2.1\nExitNode 00AA\n", {one("192.0.2.1")},
                  "'list.txt' line 2: cannot read 'ExitNode 00AA'\n"},
        line_case{"comments only", "# none today\n\n", {}, "'list.txt': no addresses\n"},
        line_case{"a header only", "network,geoname_id\r\n", {}, "'list.txt': no addresses\n"},
        line_case{"a first row with a damaged address", "192.0.2.300,ZZ\n192.0.2.1,ZZ\n", {one("192.0.2.1")},
                  "'list.txt' line 1: cannot read '192.0.2.300,ZZ'\n"},
        line_case{"gzip JSON document", gzip("{\"data\": [{\"ipAddress\": \"203.0.113.9\"}]}"), {one("203.0.113.9")}, ""},
        // The kind is told by content.
        line_case{"gzip text", gzip(kinds_text), kinds_read, ""},
        line_case{"P2B", p2b + "\0\x01\x0A\x10\x00\x01\x0A\x1F\xFF"s, kinds_read, ""},
        line_case{"gzip P2B", gzip(p2b + "\0\x01\x0A\x10\x00\x01\x0A\x1F\xFF"s), kinds_read, ""},
        line_case{"gzip text without its trailer", gzip(kinds_text).substr(0, gzip(kinds_text).size() - 4), kinds_read, cannot_read},
        line_case{"gzip P2B without its trailer", gzip(p2b).substr(0, gzip(p2b).size() - 4), {span("1.2.3.0", "1.2.3.255")}, cannot_read},
        line_case{"P2B of an unknown version", "\xFF\xFF\xFF\xFFP2B\x07"s, {}, "Unsupported P2B-version (7) in file 'list.txt'.\n"}),
    testing::named_by<&line_case::what>());

TEST(auto_list, lines_across_the_buffer_edge)
{
    constexpr std::size_t held = 1 << 20;
    // A CRLF split by the end of the held bytes is one line end.
    std::string split = "#";
    split.append(held - 2, 'c').append("\r\nbad\n1.2.3.4");
    expect_read({"split CRLF", split, {one("1.2.3.4")},
                 "'list.txt' line 2: cannot read 'bad'\n"});
    // A line too long to hold is reported and skipped; a comment that long is not.
    expect_read({"overlong lines", "9.9.9.9 " + std::string(held, 'x') + "\r\nbad\n1.2.3.4\n#" + std::string(held, 'c') + "\n",
                 {one("1.2.3.4")},
                 "'list.txt' line 1: cannot read '9.9.9.9 " + std::string(52, 'x') + "'\n'list.txt' line 2: cannot read 'bad'\n"});
    // A JSON value on such a line is refused too, whether it would be a document or a line of
    // JSON lines; in a document it ends the document, which adds nothing.
    const std::string blanks(held, ' ');
    expect_read({"overlong JSON", "[{\"ip\": \"192.0.2.1\"}," + blanks + "]\n{\"ip\": \"192.0.2.2\"}\n", {one("192.0.2.2")},
                 "'list.txt' line 1: cannot read '[{\"ip\": \"192.0.2.1\"},'\n"});
    expect_read({"overlong line in a JSON document", "[\r\n{\"ip\": \"192.0.2.1\"},\n{\"ip\": \"192.0.2.2\"," + blanks + "}]\n", {},
                 "'list.txt' line 3: cannot read '{\"ip\": \"192.0.2.2\",'\n"});
    // The CRLF that ends an over-long line split by the end of a later read is one line end too.
    expect_read({"overlong line ending in a split CRLF", std::string(1, 'x').append(2 * held - 2, 'y') + "\r\nbad\n", {},
                 "'list.txt' line 1: cannot read 'x" + std::string(59, 'y') + "'\n'list.txt' line 2: cannot read 'bad'\n"});
}

TEST(auto_list, inputs_not_read_completely_keep_what_was_read)
{
    std::string text;
    for (int n = 0; n < 2000; ++n) text += "10." + std::to_string(n / 256) + "." + std::to_string(n % 256) + ".0/24\n";
    const std::string compressed = gzip(text);
    outcome cut = read_bytes(compressed.substr(0, compressed.size() / 2));
    EXPECT_EQ(cut.messages, cannot_read);
    EXPECT_EQ(cut.result, -1);
    ASSERT_EQ(cut.read.size(), 1u);
    EXPECT_EQ(cut.read[0].first, ip("10.0.0.0"));
    EXPECT_LT(cut.read[0].last, ip("10.7.207.255")) << "what was read before the cut stays in the list";
    outcome missing = read_bytes("", "missing.txt");
    EXPECT_EQ(missing.messages, "Error opening file 'missing.txt'.\n");
    EXPECT_EQ(missing.result, -1);
}

/// Published lines of every shape ("@" stands for one address), with all three line ends or
/// the one given, IPv6 ones among them; one in odd_share (unless 0) holds another IPv6 entry
/// or cannot be read. ascending makes the addresses rise, mostly.
std::string published_lines(std::mt19937& random, std::size_t length, unsigned odd_share, bool ascending,
                            const char* line_end = nullptr)
{
    static const char* const shapes[] = {"@", "@", "@", "@", "@/24", "@/17", "@ - @", "@-@", "name: x:@-@ # c",
                                         "  @\t@", "# c", "; c", "// c", "", "  \t", "64:ff9b::@", "2001:db8::@/120"};
    static const char* const odd[] = {"2001:db8::/32", "bad line", "5.5.5.5-1.1.1.1", "1.2.3.4/33", "::1"};
    static const char* const line_ends[] = {"\n", "\n", "\n", "\r\n", "\r"};
    std::uint32_t rising = 0;
    std::string text;
    while (text.size() < length) {
        std::uint32_t a = ascending ? (rising += random() % 5000) - (random() % 50 == 0 ? 100000 : 0) : random();
        std::string quad = std::to_string(a >> 24) + '.' + std::to_string(a >> 16 & 255) + '.'
                           + std::to_string(a >> 8 & 255) + '.' + std::to_string(a & 255);
        const bool is_odd = odd_share != 0 && random() % odd_share == 0;
        for (const char* c = is_odd ? odd[random() % std::size(odd)] : shapes[random() % std::size(shapes)]; *c; ++c) {
            text += *c == '@' ? quad : std::string(1, *c);
        }
        text += line_end != nullptr ? line_end : line_ends[random() % std::size(line_ends)];
    }
    return text;
}

void expect_same_outcome(const outcome& ahead, const outcome& in_turn, const std::string& name)
{
    EXPECT_EQ(ahead.read, in_turn.read) << name;
    EXPECT_EQ(ahead.ipv6, in_turn.ipv6) << name;
    EXPECT_EQ(ahead.messages, in_turn.messages) << name;
    EXPECT_EQ(ahead.result, in_turn.result) << name;
}

TEST(auto_list, reading_ahead_reads_as_reading_in_turn)
{
    // The second half of a large plain file is read ahead on a second processor, up to the
    // first line that cannot be read; a compressed copy is read in turn. The largest gives
    // enough ranges out of order to be sorted with the list's own.
    struct shape {
        std::size_t length;
        unsigned odd_share;
        bool ascending;
        const char* line_end = nullptr;
    };
    std::mt19937 random(3);
    for (shape form : {shape{1'500'000, 40000, true}, shape{1'500'000, 40000, false}, shape{1'500'000, 300, true},
                       shape{6'000'000, 1'000'000, false}, shape{3'000'000, 0, true, "\r\n"}}) {
        // Lines that cannot be read at the end tell, by their numbers, that every line was counted.
        std::string text = published_lines(random, form.length, form.odd_share, form.ascending, form.line_end);
        if (form.odd_share == 0) text += "bad\r\nbad\r\n";
        outcome ahead = read_bytes(text);
        outcome in_turn = read_bytes(gzip(text));
        std::string name = std::to_string(form.length) + " odd 1/" + std::to_string(form.odd_share);
        expect_same_outcome(ahead, in_turn, name);
    }
}

// A large plain file's second half is read ahead on a second processor, its IPv6 lines too.
// Whether it was taken depends on how soon that processor ran, so each file is read until it
// was, five times at most; every read must give what reading a compressed copy in turn gives.
// Lines of short IPv6 addresses fill the room the second processor has for them, and the main
// thread reads on from there.
TEST(auto_list, large_plain_file_is_read_ahead)
{
    if (usable_processors() < 2) GTEST_SKIP() << "one usable processor: nothing is read ahead";
    std::mt19937 random(23);
    std::string ascending, shuffled_ipv6, short_ipv6;
    for (std::uint32_t address = 0x01000000; ascending.size() < (3u << 20);) {
        address += 2 + random() % 5000;
        ascending += testing::dotted(address) + '\n';
    }
    char text[64];
    while (shuffled_ipv6.size() < (3u << 20)) {
        const auto high = static_cast<unsigned>(random()), low = static_cast<unsigned>(random());
        const int length = random() % 3 == 0 ? std::snprintf(text, sizeof text, "2001:db8:%x:%x::/%u\n", high >> 16, high & 0xFFFF, 40 + low % 40)
                                             : std::snprintf(text, sizeof text, "2001:db8:%x:%x::%x\n", high >> 16, high & 0xFFFF, low & 0xFFFF);
        shuffled_ipv6.append(text, static_cast<std::size_t>(length));
    }
    for (unsigned n = 0; short_ipv6.size() < (3u << 20); ++n) {
        short_ipv6.append(text, static_cast<std::size_t>(std::snprintf(text, sizeof text, "%u::%u\n", n % 10, n % 7)));
    }
    for (const std::string* file_text : {&ascending, &shuffled_ipv6, &short_ipv6}) {
        const std::string name = file_text->substr(0, file_text->find('\n'));
        const outcome in_turn = read_bytes(gzip(*file_text));
        EXPECT_EQ(in_turn.result, 0) << name;
        const unsigned taken_before = lines_ahead::taken_count();
        for (int attempt = 0; attempt < 5 && lines_ahead::taken_count() == taken_before; ++attempt) {
            expect_same_outcome(read_bytes(*file_text), in_turn, name);
        }
        EXPECT_GT(lines_ahead::taken_count(), taken_before) << name;
    }
}

/// Takes what a search hands on as a load would add it, and whether the lines come in order.
struct collected_entries : entry_consumer {
    range_list list;
    ipv6_list ipv6;
    std::uint64_t last_line = 0;
    bool in_order = true;
    void take(ip_range range, std::uint64_t line, std::string_view text) override
    {
        range_list_insert(list, range);
        note(line, text);
    }
    void take_ipv6(const ipv6_range& range, std::uint64_t line, std::string_view text) override
    {
        ipv6_list_insert(ipv6, range);
        note(line, text);
    }
    void note(std::uint64_t line, std::string_view text)
    {
        in_order = in_order && line >= last_line && !text.empty();
        last_line = line;
    }
};

TEST(auto_list, a_search_hands_on_what_a_load_adds)
{
    std::mt19937 random(5);
    const std::string document = "{\"a\": [\n" + repeated("{\"ip\": \"192.0.2.7\"}, {\"start\": \"::1\", \"end\": \"::9\"},\n", 50) + "{}]}\n";
    for (const std::string& text : {published_lines(random, 1'500'000, 300, false), document, "seen,ip\n1,192.0.2.1\n2,192.0.2.9,192.0.2.20\n"s}) {
        const outcome loaded = read_bytes(text);
        served = text;
        path_calls calls = system_path_calls();
        calls.open = &serve_list;
        path_calls_override opener(calls);
        collected_entries found;
        diagnostic_capture capture;
        EXPECT_EQ(auto_list_search("list.txt", found), loaded.result);
        EXPECT_EQ(capture.text(), loaded.messages);
        EXPECT_EQ(ranges_of(found.list), loaded.read);
        EXPECT_TRUE(found.in_order);
        EXPECT_EQ(ipv6_text(found.ipv6), loaded.ipv6);
    }
}

} // namespace
} // namespace blockset
