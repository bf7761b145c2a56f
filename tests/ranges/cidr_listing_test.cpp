#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "io/output_stream.h"
#include "ranges/range_list.h"
#include "test_support.h"

namespace blockset {
namespace {

using testing::ip;
using testing::list_of;

/// Runs write() against an output_stream on a temporary file and returns what reached the file.
template <typename writer>
std::string written_by(writer write)
{
    std::FILE* file = std::tmpfile();
    EXPECT_NE(file, nullptr);
    {
        output_stream out(fileno(file), 64);
        write(out);
        EXPECT_TRUE(out.flush());
    }
    std::string text;
    std::rewind(file);
    char chunk[4096];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) text.append(chunk, got);
    std::fclose(file);
    return text;
}

std::string cidr_lines(range_list&& list)
{
    return written_by([&](output_stream& out) { range_list_write_cidr(out, list); });
}

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
    std::vector<std::string> lines;
    for (unsigned prefix = 32; prefix >= 1; --prefix) {
        std::uint32_t start = std::uint32_t{1} << (32 - prefix);
        lines.push_back(std::to_string(start >> 24) + "." + std::to_string((start >> 16) & 0xFF) + "." +
                        std::to_string((start >> 8) & 0xFF) + "." + std::to_string(start & 0xFF) + "/" +
                        std::to_string(prefix));
    }
    ASSERT_EQ(lines.size(), 32u);
    EXPECT_EQ(lines.front(), "0.0.0.1/32");
    EXPECT_EQ(lines[1], "0.0.0.2/31");
    EXPECT_EQ(lines[30], "64.0.0.0/2");
    EXPECT_EQ(lines.back(), "128.0.0.0/1");
    EXPECT_EQ(cidr_lines(list_of({{1, top_address}})), joined(lines));
}

TEST(cidr_listing, range_from_zero_to_below_the_top_halves_down_to_one_address)
{
    std::vector<std::string> lines;
    std::uint32_t start = 0;
    for (unsigned prefix = 1; prefix <= 32; ++prefix) {
        lines.push_back(std::to_string(start >> 24) + "." + std::to_string((start >> 16) & 0xFF) + "." +
                        std::to_string((start >> 8) & 0xFF) + "." + std::to_string(start & 0xFF) + "/" +
                        std::to_string(prefix));
        start |= std::uint32_t{1} << (32 - prefix);
    }
    ASSERT_EQ(lines.size(), 32u);
    EXPECT_EQ(lines.front(), "0.0.0.0/1");
    EXPECT_EQ(lines[1], "128.0.0.0/2");
    EXPECT_EQ(lines[2], "192.0.0.0/3");
    EXPECT_EQ(lines[30], "255.255.255.252/31");
    EXPECT_EQ(lines.back(), "255.255.255.254/32");
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

TEST(cidr_listing, blocks_cover_exactly_the_range)
{
    // Every block must be aligned, stay inside the range, follow the previous one directly,
    // and be as large as alignment and the addresses left allow.
    const std::uint32_t bases[] = {0, 1, 255, 256, ip("10.0.0.5"), ip("127.255.255.255"), top_address - 300};
    for (std::uint32_t base : bases) {
        for (std::uint32_t length = 0; length < 300; length += 7) {
            std::uint32_t last = base + length < base ? top_address : base + length;
            std::string text = cidr_lines(list_of({{base, last}}));
            std::uint64_t next = base;
            std::size_t at = 0;
            while (at < text.size()) {
                std::size_t end = text.find('\n', at);
                ASSERT_NE(end, std::string::npos);
                std::string line = text.substr(at, end - at);
                at = end + 1;
                std::size_t slash = line.find('/');
                std::uint32_t start = ip(line.substr(0, slash).c_str());
                unsigned prefix = static_cast<unsigned>(std::stoi(line.substr(slash + 1)));
                ASSERT_EQ(start, next) << line;
                ASSERT_EQ(start & ~mask_table[prefix], 0u) << line;
                std::uint64_t block_end = block_last_address(start, prefix);
                ASSERT_LE(block_end, last) << line;
                // A block twice the size would have been misaligned or too long.
                if (prefix > 0) {
                    bool could_double = (start & ~mask_table[prefix - 1]) == 0 &&
                                        block_last_address(start, prefix - 1) <= last;
                    EXPECT_FALSE(could_double) << line;
                }
                next = block_end + 1;
            }
            EXPECT_EQ(next, std::uint64_t{last} + 1) << base << "+" << length;
        }
    }
}

TEST(cidr_listing, long_listings_survive_many_buffer_refills)
{
    range_list list;
    std::string expected;
    for (std::uint32_t i = 0; i < 5000; ++i) {
        std::uint32_t address = ip("172.16.0.0") + 2 * i;
        range_list_add_range(list, address, address);
        expected += "172.16." + std::to_string((2 * i) >> 8) + "." + std::to_string((2 * i) & 0xFF) + "/32\n";
    }
    EXPECT_EQ(cidr_lines(std::move(list)), expected);
}

} // namespace
} // namespace blockset
