#include "ranges/listings.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "io/diagnostics.h"
#include "io/output_stream.h"
#include "io/process.h"
#include "output_capture.h"
#include "ranges/range_list.h"
#include "test_support.h"

namespace blockset {
namespace {

using testing::ip;
using testing::list_of;
using ranges = std::vector<ip_range>;
using listing = void (*)(output_stream&, range_list&);

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

/// A fresh directory for the test's files, removed afterwards.
class temporary_folder {
public:
    temporary_folder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "listings-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        path_ = pattern;
    }
    ~temporary_folder() { std::filesystem::remove_all(path_); }
    std::string file(const char* name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

/// Runs a listing on a stream of the given capacity into a file and returns the text.
std::string listing_text(listing write, range_list& list, std::size_t capacity = 1 << 16)
{
    temporary_folder folder;
    std::string path = folder.file("out");
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) std::abort();
    {
        output_stream out(fd, capacity);
        write(out, list);
        out.flush();
    }
    ::close(fd);
    return read_file(path);
}

/// The address listing written the slow, obvious way.
std::string addresses_by_printf(std::uint32_t first, std::uint32_t last)
{
    std::string text;
    char line[32];
    for (std::uint64_t address = first; address <= last; ++address) {
        std::snprintf(line, sizeof line, "%u.%u.%u.%u\n", static_cast<unsigned>(address >> 24),
                      static_cast<unsigned>(address >> 16 & 0xFF),
                      static_cast<unsigned>(address >> 8 & 0xFF), static_cast<unsigned>(address & 0xFF));
        text += line;
    }
    return text;
}

/// Compares long listings by their first differing line; a whole-text diff of megabytes
/// would cost more memory than the test machine has.
void expect_same_lines(const std::string& actual, const std::string& expected)
{
    std::istringstream actual_lines(actual), expected_lines(expected);
    std::string actual_line, expected_line;
    for (std::size_t number = 1;; ++number) {
        bool more_actual = static_cast<bool>(std::getline(actual_lines, actual_line));
        bool more_expected = static_cast<bool>(std::getline(expected_lines, expected_line));
        if (!more_actual && !more_expected) break;
        if (more_actual != more_expected || actual_line != expected_line) {
            ADD_FAILURE() << "line " << number << ": got \"" << (more_actual ? actual_line : "(end)")
                          << "\", expected \"" << (more_expected ? expected_line : "(end)") << "\"";
            return;
        }
    }
    EXPECT_EQ(actual.size(), expected.size()) << "the listings differ in their last line end";
}

const ranges example = {{ip("10.0.0.0"), ip("10.0.0.3")}, {ip("200.1.2.3"), ip("200.1.2.3")}};

range_list make_list(const ranges& items)
{
    range_list list;
    for (const ip_range& range : items) range_list_insert(list, range);
    return list;
}

struct listing_case {
    const char* name;
    ranges list;
    const char* expected;
};

TEST(listings, range_listing_writes_one_line_per_range)
{
    const listing_case cases[] = {
        {"example", example, "10.0.0.0-10.0.0.3\n200.1.2.3-200.1.2.3\n"},
        {"everything", {{0, top_address}}, "0.0.0.0-255.255.255.255\n"},
        {"empty", {}, ""},
        {"top address", {{top_address, top_address}}, "255.255.255.255-255.255.255.255\n"},
        {"octets of every width", {{ip("1.22.133.4"), ip("128.0.99.255")}},
         "1.22.133.4-128.0.99.255\n"},
    };
    for (const listing_case& row : cases) {
        range_list list = make_list(row.list);
        EXPECT_EQ(listing_text(range_list_write_ranges, list), row.expected)
            << row.name;
    }
}

TEST(listings, address_listing_writes_every_address)
{
    const listing_case cases[] = {
        {"example", example, "10.0.0.0\n10.0.0.1\n10.0.0.2\n10.0.0.3\n200.1.2.3\n"},
        {"empty", {}, ""},
        {"ends at the top", {{ip("255.255.255.254"), top_address}}, "255.255.255.254\n255.255.255.255\n"},
        {"starts at zero", {{0, 2}}, "0.0.0.0\n0.0.0.1\n0.0.0.2\n"},
        {"crosses a /24", {{ip("10.0.0.254"), ip("10.0.1.1")}},
         "10.0.0.254\n10.0.0.255\n10.0.1.0\n10.0.1.1\n"},
        {"crosses a /8", {{ip("9.255.255.255"), ip("10.0.0.0")}}, "9.255.255.255\n10.0.0.0\n"},
        {"octet widths change", {{ip("99.99.99.9"), ip("99.99.99.10")}, {ip("99.99.99.99"), ip("99.99.99.100")}},
         "99.99.99.9\n99.99.99.10\n99.99.99.99\n99.99.99.100\n"},
    };
    for (const listing_case& row : cases) {
        range_list list = make_list(row.list);
        EXPECT_EQ(listing_text(range_list_write_addresses, list), row.expected)
            << row.name;
    }
}

TEST(listings, address_listing_matches_printf_over_a_whole_block)
{
    struct block_case {
        std::uint32_t first;
        std::uint32_t last;
        std::size_t capacity;
    };
    const block_case cases[] = {
        {ip("192.168.0.0"), ip("192.168.255.255"), 1 << 16},
        {ip("255.254.255.200"), top_address, 1 << 16},
        // A small buffer splits each /24 block over several windows.
        {ip("10.0.0.7"), ip("10.0.3.250"), 64},
        {ip("10.0.0.7"), ip("10.0.3.250"), 100},
    };
    for (const block_case& row : cases) {
        range_list list = list_of({{row.first, row.last}});
        expect_same_lines(listing_text(range_list_write_addresses, list, row.capacity),
                          addresses_by_printf(row.first, row.last));
    }
}

TEST(listings, output_files_write_each_listing)
{
    temporary_folder folder;
    range_list list = make_list(example);
    struct file_case {
        int (*write)(const char*, range_list&);
        const char* expected;
    };
    const file_case cases[] = {
        {write_cidr_file, "10.0.0.0/30\n200.1.2.3/32\n"},
        {write_ranges_file, "10.0.0.0-10.0.0.3\n200.1.2.3-200.1.2.3\n"},
        {write_addresses_file, "10.0.0.0\n10.0.0.1\n10.0.0.2\n10.0.0.3\n200.1.2.3\n"},
    };
    for (const file_case& row : cases) {
        std::string path = folder.file("list.txt");
        diagnostic_capture messages;
        EXPECT_EQ(row.write(path.c_str(), list), 0);
        EXPECT_EQ(read_file(path), row.expected);
        EXPECT_EQ(messages.text(), "");
    }
}

TEST(listings, output_file_replaces_existing_contents)
{
    temporary_folder folder;
    std::string path = folder.file("list.txt");
    std::ofstream(path) << "an older and much longer text than the listing\n";
    range_list list = list_of({{1, 2}});
    EXPECT_EQ(write_ranges_file(path.c_str(), list), 0);
    EXPECT_EQ(read_file(path), "0.0.0.1-0.0.0.2\n");
}

TEST(listings, empty_list_leaves_an_empty_file)
{
    temporary_folder folder;
    std::string path = folder.file("empty.txt");
    std::ofstream(path) << "old\n";
    range_list empty;
    EXPECT_EQ(write_addresses_file(path.c_str(), empty), 0);
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(read_file(path), "");
    std::string fresh = folder.file("fresh.txt");
    EXPECT_EQ(write_cidr_file(fresh.c_str(), empty), 0);
    EXPECT_TRUE(std::filesystem::exists(fresh));
    EXPECT_EQ(read_file(fresh), "");
}

TEST(listings, unopenable_file_is_reported_and_nothing_is_written)
{
    temporary_folder folder;
    const std::string missing = folder.file("no/such/folder/list.txt");
    const std::string folder_itself = folder.file("");
    const std::string paths[] = {missing, folder_itself};
    range_list list = make_list(example);
    for (const std::string& path : paths) {
        for (auto write : {write_cidr_file, write_ranges_file, write_addresses_file}) {
            diagnostic_capture messages;
            int result;
            std::string output;
            {
                testing::output_capture capture;
                result = write(path.c_str(), list);
                output = capture.text();
            }
            EXPECT_EQ(result, -1);
            EXPECT_EQ(messages.text(), "Error opening file '" + path + "'.\n");
            EXPECT_EQ(output, "");
        }
    }
    EXPECT_FALSE(std::filesystem::exists(folder.file("no")));
}

TEST(listings, standard_output_takes_listings_in_order_and_stays_open)
{
    temporary_folder folder;
    std::string output;
    int first, second, third;
    range_list one = list_of({{1, 2}});
    range_list many = make_list(example);
    range_list top = list_of({{top_address, top_address}});
    {
        testing::output_capture capture;
        first = write_ranges_file(nullptr, one);
        second = write_cidr_file(nullptr, many);
        third = write_addresses_file(nullptr, top);
        output = capture.text();
    }
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 0);
    EXPECT_EQ(third, 0);
    EXPECT_EQ(output, "0.0.0.1-0.0.0.2\n10.0.0.0/30\n200.1.2.3/32\n255.255.255.255\n");
    EXPECT_NE(::fcntl(STDOUT_FILENO, F_GETFD), -1);
}

const std::string full_device_error = "Error writing file '/dev/full'.\n";

/// Matches standard error byte for byte (a plain string would be taken as a pattern).
::testing::Matcher<const std::string&> exactly(const std::string& text) { return text; }

// A write error marks the whole process, so each case runs in a child of its own.
TEST(listings, failed_write_is_reported_and_ends_with_status_74)
{
    range_list list = make_list(example);
    for (auto write : {write_cidr_file, write_ranges_file, write_addresses_file}) {
        EXPECT_EXIT(
            {
                int result = write("/dev/full", list);
                std::exit(result == -1 ? finish_process() : 1);
            },
            ::testing::ExitedWithCode(exit_write_error), exactly(full_device_error));
    }
}

TEST(listings, failed_write_lets_later_output_go_on)
{
    temporary_folder folder;
    EXPECT_EXIT(
        {
            std::string path = folder.file("after.txt");
            range_list lost = list_of({{1, 2}});
            range_list kept = list_of({{3, 4}});
            write_ranges_file("/dev/full", lost);
            int result = write_ranges_file(path.c_str(), kept);
            bool later_written = result == 0 && read_file(path) == "0.0.0.3-0.0.0.4\n";
            std::exit(later_written ? finish_process() : 1);
        },
        ::testing::ExitedWithCode(exit_write_error), exactly(full_device_error));
}

} // namespace
} // namespace blockset
