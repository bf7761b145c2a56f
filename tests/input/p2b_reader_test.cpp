#include "input/p2b_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
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
using testing::list_of;
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

/// Reads the file into a list that already holds 1.1.1.1, and reports what came of it.
read_outcome read_file(const char* path)
{
    range_list list = list_of({{ip("1.1.1.1"), ip("1.1.1.1")}});
    diagnostic_capture capture;
    int result = p2b_read(path, list);
    ranges held = ranges_of(list);
    ranges added;
    for (const ip_range& range : held) {
        if (range != ip_range{ip("1.1.1.1"), ip("1.1.1.1")}) added.push_back(range);
    }
    EXPECT_NE(std::find(held.begin(), held.end(), ip_range{ip("1.1.1.1"), ip("1.1.1.1")}), held.end())
        << "the reader must never remove what the list held";
    return {result, capture.text(), added};
}

std::string with_path(const char* format, const char* path)
{
    std::string text = format;
    text.replace(text.find("%s"), 2, path);
    return text;
}

struct failure_case {
    const char* what;
    std::string bytes;
    const char* message;
};

TEST(p2b_reader, unreadable_headers_are_reported_and_add_nothing)
{
    const failure_case cases[] = {
        {"empty input", "", "Error reading file '%s'.\n"},
        {"six magic bytes", magic.substr(0, 6), "Error reading file '%s'.\n"},
        {"magic only", magic, "Unsupported P2B-version (-1) in file '%s'.\n"},
        {"version 0", magic + '\0' + named_record("a", 1, 2), "Unsupported P2B-version (0) in file '%s'.\n"},
        {"version 4", magic + '\x04' + named_record("a", 1, 2), "Unsupported P2B-version (4) in file '%s'.\n"},
        {"version 255", magic + '\xFF', "Unsupported P2B-version (255) in file '%s'.\n"},
        {"wrong letter", "\xFF\xFF\xFF\xFFP2C\x01"s + named_record("a", 1, 2), "Bad magic in file '%s'.\n"},
        {"wrong first byte", "\xFE\xFF\xFF\xFFP2B\x01"s, "Bad magic in file '%s'.\n"},
        {"lower-case letters", "\xFF\xFF\xFF\xFFp2b\x01"s, "Bad magic in file '%s'.\n"},
        {"text", "10.0.0.0/8\n", "Bad magic in file '%s'.\n"},
        {"seven bytes, not magic", "abcdefg", "Bad magic in file '%s'.\n"},
    };
    for (const failure_case& c : cases) {
        for (bool gzip : {false, true}) {
            temporary_file file(gzip ? testing::gzip(c.bytes) : c.bytes);
            read_outcome outcome = read_file(file.path());
            EXPECT_EQ(outcome.result, -1) << c.what << (gzip ? " (gzip)" : "");
            EXPECT_EQ(outcome.messages, with_path(c.message, file.path())) << c.what << (gzip ? " (gzip)" : "");
            EXPECT_EQ(outcome.added, ranges{}) << c.what;
        }
    }
}

TEST(p2b_reader, missing_file_cannot_be_opened)
{
    read_outcome outcome = read_file("/nonexistent/blockset/list.p2b");
    EXPECT_EQ(outcome.result, -1);
    EXPECT_EQ(outcome.messages, "Error opening file '/nonexistent/blockset/list.p2b'.\n");
    EXPECT_EQ(outcome.added, ranges{});
}

struct content_case {
    const char* what;
    std::string bytes;
    ranges expected;
};

std::vector<content_case> named_cases(char version)
{
    const std::string header = magic + version;
    const std::string first = named_record("abc", ip("10.0.0.0"), ip("10.0.0.255"));
    const std::string second = named_record("", ip("192.168.0.1"), ip("192.168.0.9"));
    const ranges both = {{ip("10.0.0.0"), ip("10.0.0.255")}, {ip("192.168.0.1"), ip("192.168.0.9")}};
    const ranges only_first = {{ip("10.0.0.0"), ip("10.0.0.255")}};
    std::vector<content_case> cases = {
        {"no records", header, {}},
        {"three-letter name", header + first, only_first},
        {"empty name", header + named_record("", 5, 9), {{5, 9}}},
        {"two records ending exactly", header + first + second, both},
        {"cut inside a name", header + first + "Bad Ne", only_first},
        {"cut after a name", header + first + "name"s + '\0', only_first},
        {"name of bytes above 127", header + named_record("\x80\xFF\x01", 7, 7), {{7, 7}}},
        {"out of order", header + second + first, both},
        {"reversed range", header + named_record("r", 20, 10) + first, only_first},
        {"adjacent records merge", header + named_record("a", 20, 29) + named_record("b", 30, 40), {{20, 40}}},
    };
    for (std::size_t cut = 1; cut <= 7; ++cut) {
        cases.push_back({"cut inside the addresses", header + first + second.substr(0, 1 + cut), only_first});
    }
    return cases;
}

std::vector<content_case> counted_cases()
{
    const std::string header = magic + '\x03';
    const std::string names = big_endian(2) + "a"s + '\0' + "b"s + '\0';
    const ip_range class_c = {ip("192.168.0.0"), ip("192.168.0.255")};
    return {
        {"no names, no ranges", header + big_endian(0) + big_endian(0), {}},
        {"two names, one range", header + names + big_endian(1) + counted_record(class_c.first, class_c.last, 1),
         {class_c}},
        {"leading bytes ignored",
         header + names + big_endian(1) + counted_record(class_c.first, class_c.last, 0xDEADBEEF), {class_c}},
        {"bytes after the last record",
         header + names + big_endian(1) + counted_record(class_c.first, class_c.last) + "garbage"s + '\0',
         {class_c}},
        {"fewer records than counted",
         header + names + big_endian(5) + counted_record(1, 2) + counted_record(4, 5) + "\x00\x00\x00"s,
         {{1, 2}, {4, 5}}},
        {"huge range count, no records", header + big_endian(0) + big_endian(0xFFFFFFFF), {}},
        {"names but no range count", header + names, {}},
        {"cut inside the name count", header + "\x00\x00"s, {}},
        {"cut inside the name table", header + big_endian(3) + "a"s + '\0' + "b", {}},
        {"cut inside the range count", header + names + "\x00\x00\x00"s, {}},
        {"cut inside a record", header + names + big_endian(2) + counted_record(1, 2) + counted_record(4, 5).substr(0, 11),
         {{1, 2}}},
        {"a name longer than the read buffer", header + big_endian(1) + std::string(300000, 'n') + '\0' + big_endian(1) +
                                               counted_record(9, 9),
         {{9, 9}}},
    };
}

void expect_read(const content_case& c, const std::string& version)
{
    for (bool gzip : {false, true}) {
        temporary_file file(gzip ? testing::gzip(c.bytes) : c.bytes);
        read_outcome outcome = read_file(file.path());
        std::string label = version + ": " + c.what + (gzip ? " (gzip)" : "");
        EXPECT_EQ(outcome.result, 0) << label;
        EXPECT_EQ(outcome.messages, "") << label;
        EXPECT_EQ(outcome.added, c.expected) << label;
    }
}

TEST(p2b_reader, versions_one_and_two_read_named_records_to_the_end)
{
    for (char version : {'\x01', '\x02'}) {
        for (const content_case& c : named_cases(version)) expect_read(c, "version " + std::to_string(version));
    }
}

TEST(p2b_reader, version_three_reads_counted_names_and_ranges)
{
    for (const content_case& c : counted_cases()) expect_read(c, "version 3");
}

TEST(p2b_reader, long_names_span_many_reads)
{
    std::string bytes = magic + '\x01';
    ranges expected;
    for (std::uint32_t i = 0; i < 40; ++i) {
        bytes += named_record(std::string(7919 * i, static_cast<char>('A' + i % 26)), 4 * i, 4 * i + 1);
        expected.push_back({4 * i, 4 * i + 1});
    }
    expect_read({"long names", bytes, expected}, "version 1");
}

/// Many records, with random addresses so that the compressed stream stays large.
std::string many_records(std::size_t count, ranges& expected)
{
    std::mt19937 random(99);
    std::string bytes = magic + '\x01';
    std::uint32_t address = 0;
    for (std::size_t i = 0; i < count; ++i) {
        address += 2 + random() % 50000;
        std::uint32_t last = address + random() % 1000;
        bytes += named_record(std::to_string(random()), address, last);
        expected.push_back({address, last});
        address = last;
    }
    return bytes;
}

TEST(p2b_reader, gzip_stream_cut_short_is_a_read_error)
{
    ranges all;
    const std::string compressed = gzip(many_records(20000, all));
    // In the middle of the data, before the trailer, and inside the trailer's length field.
    for (std::size_t kept : {compressed.size() / 2, compressed.size() - 8, compressed.size() - 1}) {
        temporary_file cut(compressed.substr(0, kept));
        read_outcome outcome = read_file(cut.path());
        EXPECT_EQ(outcome.result, -1) << kept;
        EXPECT_EQ(outcome.messages, with_path("Error reading file '%s'.\n", cut.path())) << kept;
        ASSERT_FALSE(outcome.added.empty()) << "ranges read before the cut stay in the list";
        EXPECT_LE(outcome.added.size(), all.size());
        EXPECT_TRUE(std::equal(outcome.added.begin(), outcome.added.end(), all.begin())) << kept;
    }
    // Bytes after a complete member are zlib's business: it ignores what is no gzip header.
    temporary_file trailing(compressed + "junk");
    read_outcome outcome = read_file(trailing.path());
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.added, all);
}

TEST(p2b_reader, corrupt_gzip_stream_stops_the_reading_with_a_message)
{
    ranges all;
    const std::string compressed = gzip(many_records(50000, all));
    // The last 8 bytes are the check value and the length: a wrong check value is found
    // only after everything else has been decompressed.
    std::string bad_check = compressed;
    bad_check[bad_check.size() - 8] ^= 0x55;
    temporary_file late(bad_check);
    read_outcome outcome = read_file(late.path());
    EXPECT_EQ(outcome.result, -1);
    EXPECT_EQ(outcome.messages, with_path("Error reading file '%s'.\n", late.path()));
    ASSERT_FALSE(outcome.added.empty()) << "ranges read before the failure stay in the list";
    EXPECT_LT(outcome.added.size(), all.size());
    EXPECT_TRUE(std::equal(outcome.added.begin(), outcome.added.end(), all.begin()));

    // A damaged stream right after the gzip header fails before the magic is complete.
    std::string bad_start = compressed.substr(0, 10) + std::string(64, '\xFF');
    temporary_file early(bad_start);
    outcome = read_file(early.path());
    EXPECT_EQ(outcome.result, -1);
    EXPECT_EQ(outcome.messages, with_path("Error reading file '%s'.\n", early.path()));
    EXPECT_EQ(outcome.added, ranges{});
}

TEST(p2b_reader, read_error_of_the_file_is_reported)
{
    testing::temporary_folder folder;
    read_outcome outcome = read_file(folder.path().c_str());
    EXPECT_EQ(outcome.result, -1);
    EXPECT_EQ(outcome.messages, with_path("Error reading file '%s'.\n", folder.path().c_str()));
    EXPECT_EQ(outcome.added, ranges{});
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
