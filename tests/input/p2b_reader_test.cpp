#include "input/p2b_reader.h"

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "io/diagnostics.h"
#include "ranges/range_list.h"
#include "test_support.h"

namespace blockset {
namespace {

using testing::gzip;
using testing::ip;
using testing::one;
using testing::ranges;
using testing::ranges_of;
using testing::temporary_file;
using namespace std::string_literals;

const std::string magic = "\xFF\xFF\xFF\xFFP2B"s;

std::string big_endian(std::uint32_t value)
{
    return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
            static_cast<char>(value)};
}

/// A version 1 or 2 record: the name, its 00 byte, first and last.
std::string named_record(const std::string& name, std::uint32_t first, std::uint32_t last)
{
    return name + '\0' + big_endian(first) + big_endian(last);
}

/// A version 3 range record; the leading 4 bytes are not interpreted.
std::string counted_record(std::uint32_t first, std::uint32_t last, std::uint32_t leading = 0)
{
    return big_endian(leading) + big_endian(first) + big_endian(last);
}

struct read_outcome {
    int result;
    std::string messages;
    ranges added;
};

/// Reads the file into a list that already holds 1.1.1.1, which must stay; "%s" in the
/// messages stands for the path.
read_outcome read_file(const char* path)
{
    const ip_range held = one("1.1.1.1");
    range_list list = testing::list_of({held});
    diagnostic_capture capture;
    read_outcome outcome{p2b_read(path, list), capture.text(), {}};
    for (const ip_range& range : ranges_of(list))
        if (range != held) outcome.added.push_back(range);
    EXPECT_EQ(ranges_of(list).size(), outcome.added.size() + 1) << "the reader must never remove what the list held";
    if (std::size_t at = outcome.messages.find(path); at != std::string::npos)
        outcome.messages.replace(at, std::string(path).size(), "%s");
    return outcome;
}

struct p2b_case {
    std::string what;
    std::string bytes;
    ranges expected;     // added to the list
    std::string message = {}; // none when the list was read
};
void PrintTo(const p2b_case& row, std::ostream* out) { *out << row.what; }

std::vector<p2b_case> all_cases()
{
    const std::string error = "Error reading file '%s'.\n", bad_magic = "Bad magic in file '%s'.\n";
    const auto version = [](const char* number) { return "Unsupported P2B-version ("s + number + ") in file '%s'.\n"; };
    // Versions 1 and 2: named records to the end of the data.
    const std::string v1 = magic + '\x01';
    const std::string first = named_record("abc", ip("10.0.0.0"), ip("10.0.0.255"));
    const std::string second = named_record("", ip("192.168.0.1"), ip("192.168.0.9"));
    const ranges both = {{ip("10.0.0.0"), ip("10.0.0.255")}, {ip("192.168.0.1"), ip("192.168.0.9")}};
    const ranges only_first = {both[0]};
    // Version 3: a counted name table, then counted range records.
    const std::string v3 = magic + '\x03', names = big_endian(2) + "a"s + '\0' + "b"s + '\0';
    const ip_range c = {ip("192.168.0.0"), ip("192.168.0.255")};
    std::vector<p2b_case> cases = {
        {"empty input", "", {}, error},
        {"six magic bytes", magic.substr(0, 6), {}, error},
        {"magic only", magic, {}, version("-1")},
        {"version 0", magic + '\0' + named_record("a", 1, 2), {}, version("0")},
        {"version 4", magic + '\x04' + named_record("a", 1, 2), {}, version("4")},
        {"version 255", magic + '\xFF', {}, version("255")},
        {"wrong letter", "\xFF\xFF\xFF\xFFP2C\x01"s + named_record("a", 1, 2), {}, bad_magic},
        {"wrong first byte", "\xFE\xFF\xFF\xFFP2B\x01"s, {}, bad_magic},
        {"text", "10.0.0.0/8\n", {}, bad_magic},
        {"seven bytes, not magic", "abcdefg", {}, bad_magic},

        {"version 1: no records", v1, {}},
        {"version 1: three-letter name", v1 + first, only_first},
        {"version 1: empty name", v1 + named_record("", 5, 9), {{5, 9}}},
        {"version 1: two records ending exactly", v1 + first + second, both},
        {"version 2: two records, a third cut", magic + '\x02' + first + second + "x"s + '\0', both},
        {"version 1: cut inside a name", v1 + first + "Bad Ne", only_first},
        {"version 1: cut after a name", v1 + first + "name"s + '\0', only_first},
        {"version 1: name of bytes above 127", v1 + named_record("\x80\xFF\x01", 7, 7), {{7, 7}}},
        {"version 1: out of order", v1 + second + first, both},
        {"version 1: reversed range", v1 + named_record("r", 20, 10) + first, only_first},
        {"version 1: adjacent records merge", v1 + named_record("a", 20, 29) + named_record("b", 30, 40), {{20, 40}}},

        {"version 3: no names, no ranges", v3 + big_endian(0) + big_endian(0), {}},
        {"version 3: leading record bytes ignored", v3 + names + big_endian(1) + counted_record(c.first, c.last, 0xDEADBEEF),
         {c}},
        {"version 3: bytes after the last record",
         v3 + names + big_endian(1) + counted_record(c.first, c.last) + "garbage"s + '\0', {c}},
        {"version 3: fewer records than counted",
         v3 + names + big_endian(5) + counted_record(1, 2) + counted_record(4, 5) + "\x00\x00\x00"s, {{1, 2}, {4, 5}}},
        {"version 3: huge range count, no records", v3 + big_endian(0) + big_endian(0xFFFFFFFF), {}},
        {"version 3: names but no range count", v3 + names, {}},
        {"version 3: cut inside the name count", v3 + "\x00\x00"s, {}},
        {"version 3: cut inside the name table", v3 + big_endian(3) + "a"s + '\0' + "b", {}},
        {"version 3: cut inside the range count", v3 + names + "\x00\x00\x00"s, {}},
        {"version 3: cut inside a record",
         v3 + names + big_endian(2) + counted_record(1, 2) + counted_record(4, 5).substr(0, 11), {{1, 2}}},
    };
    // Inside the first address, after it, and inside the last: a record read in part would
    // most likely come out as a range that is not reversed.
    const std::string wide = named_record("", 1, top_address);
    for (std::size_t cut : {1, 4, 7})
        cases.push_back({"version 1: cut inside the addresses", v1 + first + wide.substr(0, 1 + cut), only_first});
    return cases;
}

/// Reads the bytes plain and gzip-compressed: the outcome must be the same.
void expect_read(const p2b_case& row)
{
    for (bool compressed : {false, true}) {
        SCOPED_TRACE(row.what + (compressed ? " (gzip)" : ""));
        temporary_file file(compressed ? gzip(row.bytes) : row.bytes);
        read_outcome outcome = read_file(file.path());
        EXPECT_EQ(outcome.result, row.message.empty() ? 0 : -1);
        EXPECT_EQ(outcome.messages, row.message);
        EXPECT_EQ(outcome.added, row.expected);
    }
}

class p2b_reading : public ::testing::TestWithParam<p2b_case> {};

TEST_P(p2b_reading, adds_the_ranges_or_reports_why_not) { expect_read(GetParam()); }

INSTANTIATE_TEST_SUITE_P(p2b_reader, p2b_reading, ::testing::ValuesIn(all_cases()),
                         testing::named_by<&p2b_case::what>());

// Built when run, not when every test process starts.
TEST(p2b_reader, names_longer_than_a_read_span_many_reads)
{
    p2b_case row{"version 1: long names", magic + '\x01', {}};
    for (std::uint32_t i = 0; i < 40; ++i) {
        row.bytes += named_record(std::string(7919 * i, static_cast<char>('A' + i % 26)), 4 * i, 4 * i + 1);
        row.expected.push_back({4 * i, 4 * i + 1});
    }
    expect_read(row);
    expect_read({"version 3: a long name", magic + '\x03' + big_endian(1) + std::string(300000, 'n') + '\0' +
                                               big_endian(1) + counted_record(9, 9), {{9, 9}}});
}

TEST(p2b_reader, files_that_cannot_be_opened_or_read_are_reported)
{
    testing::temporary_folder folder;
    for (auto [path, message] : {std::pair{folder.path().c_str(), "Error reading file '%s'.\n"},
                                 std::pair{"/nonexistent/blockset/list.p2b", "Error opening file '%s'.\n"}}) {
        read_outcome outcome = read_file(path);
        EXPECT_EQ(outcome.messages, message);
        EXPECT_EQ(outcome.result, -1);
        EXPECT_EQ(outcome.added, ranges{});
    }
}

TEST(p2b_reader, damaged_gzip_stream_keeps_what_was_read_before_the_damage)
{
    // Many records with random addresses, so that the compressed stream stays large.
    std::mt19937 random(99);
    std::string bytes = magic + '\x01';
    ranges all;
    for (std::uint32_t i = 0, address = 0; i < 50000; ++i) {
        address += 2 + random() % 50000;
        std::uint32_t last = address + random() % 1000;
        bytes += named_record(std::to_string(random()), address, last);
        all.push_back({address, last});
        address = last;
    }
    const std::string compressed = gzip(bytes);
    // The last 8 bytes are the check value and the length: a wrong check value is found only
    // after everything else has been decompressed.
    std::string bad_check = compressed;
    bad_check[bad_check.size() - 8] ^= 0x55;
    const std::size_t n = all.size();
    const std::string error = "Error reading file '%s'.\n";
    const struct {
        const char* what;
        std::string bytes;
        std::size_t fewest, most; // ranges read
        std::string message;
    } cases[] = {
        {"cut in the middle", compressed.substr(0, compressed.size() / 2), 1, n - 1, error},
        {"cut before the trailer", compressed.substr(0, compressed.size() - 8), 1, n, error},
        {"cut inside the length", compressed.substr(0, compressed.size() - 1), 1, n, error},
        {"wrong check value", bad_check, 1, n - 1, error},
        {"damaged right after the gzip header", compressed.substr(0, 10) + std::string(64, '\xFF'), 0, 0, error},
        // Bytes after a complete member are zlib's business: it ignores what is no gzip header.
        {"junk after the member", compressed + "junk", n, n, ""},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.what);
        temporary_file file(row.bytes);
        read_outcome outcome = read_file(file.path());
        EXPECT_EQ(outcome.result, row.message.empty() ? 0 : -1);
        EXPECT_EQ(outcome.messages, row.message);
        // What was read before the damage stays: the records up to some point.
        EXPECT_GE(outcome.added.size(), row.fewest);
        ASSERT_LE(outcome.added.size(), row.most);
        EXPECT_TRUE(std::equal(outcome.added.begin(), outcome.added.end(), all.begin()));
    }
}

TEST(p2b_reader, standard_input_is_read_once_and_never_again)
{
    // Each test runs in a process of its own under ctest, so nothing has read descriptor 0 yet.
    temporary_file first(magic + '\x02' + named_record("first", 1, 2));
    temporary_file second(magic + '\x02' + named_record("second", 7, 8));
    int saved = dup(STDIN_FILENO);
    ASSERT_GE(saved, 0);
    int fd = open(first.path(), O_RDONLY);
    ASSERT_EQ(dup2(fd, STDIN_FILENO), STDIN_FILENO);
    close(fd);

    range_list list;
    {
        diagnostic_capture capture;
        EXPECT_EQ(p2b_read(nullptr, list), 0);
        EXPECT_EQ(capture.text(), "");
    }
    EXPECT_EQ(ranges_of(list), (ranges{{1, 2}}));
    // The first read closed descriptor 0; whatever is opened next may get that number.
    int reused = open(second.path(), O_RDONLY);
    ASSERT_EQ(reused, STDIN_FILENO);
    {
        diagnostic_capture capture;
        EXPECT_EQ(p2b_read(nullptr, list), -1);
        EXPECT_EQ(capture.text(), "Error opening file '(null)'.\n");
    }
    EXPECT_EQ(lseek(reused, 0, SEEK_CUR), 0) << "a later read must not touch descriptor 0";
    EXPECT_EQ(ranges_of(list), (ranges{{1, 2}}));

    dup2(saved, STDIN_FILENO);
    close(saved);
}

} // namespace
} // namespace blockset
