// The text reader takes the usual lines (an address literal before the line end) in bulk, with
// a scalar or a vector reader; each must read exactly as the general way, token by token.
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "input/text_list.h"
#include "input/text_scanner.h"
#include "io/diagnostics.h"
#include "test_support.h"

namespace blockset {
namespace {

struct read_outcome {
    std::vector<ip_range> list;
    std::string echo;
    std::string messages;
    int lines = 0;
};

read_outcome read_with(plain_line_reader reader, const std::string& path, bool ahead = false)
{
    text_list_set_plain_line_reader(reader);
    text_list_set_smallest_file_ahead(ahead ? 0 : SIZE_MAX);
    read_outcome outcome;
    range_list list;
    int first_line = text_scanner().line_number();
    {
        diagnostic_capture messages;
        testing::output_capture echo;
        text_list_read(path.c_str(), list);
        outcome.echo = echo.text();
        outcome.messages = messages.text();
    }
    outcome.lines = text_scanner().line_number() - first_line;
    // The line counter runs on across reads: the syntax error's line is kept as counted from
    // the read's start.
    std::size_t number = outcome.messages.rfind("line: ");
    if (number != std::string::npos) {
        number += 6;
        outcome.messages.replace(number, std::string::npos,
                                 std::to_string(std::atoi(outcome.messages.c_str() + number) - first_line) + "\n");
    }
    outcome.list = testing::ranges_of(list);
    text_list_set_plain_line_reader(plain_line_reader::vector);
    text_list_set_smallest_file_ahead(std::size_t{1} << 20);
    return outcome;
}

/// Plain lines of every literal form and size, among odd ones, lone carriage returns,
/// blanks and comments, and now and then a second entry on a line, which ends the read.
/// One line in odd_share is of another kind than plain; ascending makes the addresses rise.
/// Above the default share, blocks and ranges stay small, so that most lines add a range.
std::string mixed_lines(std::mt19937& random, std::size_t length, unsigned odd_share = 8, bool ascending = false)
{
    // Each of these is one entry or none, with echoed bytes.
    static const char* const odd[] = {"1.2.3",       "1.2.3.4/",    "1234.1.1.1",  "1.2.3.4-5.6.7", "1.2.3.4/123",
                                      "999.1.1.1",   "1..2.3",      "1.2.3.4.5",   "01.02.003.4",   "1.2.3.4//8",
                                      "1.2.3.4567",  "1.2.3.4-",    "-1.2.3.4",    "/8",            "",
                                      "0.0.0.0/31",  "9.9.9.9/33",  "5.5.5.5-1.1.1.1", "255.255.255.255-255.255.255.255"};
    static const char* const line_ends[] = {"\n", "\n", "\n", "\r\n", "\r\n", "\r", " \n", "#x\n", "\r\r\n"};
    std::uint32_t rising = 0;
    auto quad = [&] {
        std::string text;
        if (ascending) {
            rising += random() % 70000;
            return std::to_string(rising >> 24) + '.' + std::to_string(rising >> 16 & 255) + '.'
                   + std::to_string(rising >> 8 & 255) + '.' + std::to_string(rising & 255);
        }
        for (int group = 0; group < 4; ++group) {
            if (group > 0) text += '.';
            text += std::to_string(random() % 4 == 0 ? random() % 300 : random() % 256);
        }
        return text;
    };
    const bool wide = odd_share <= 8;
    std::string text;
    while (text.size() < length) {
        if (random() % odd_share == 0) {
            text += odd[random() % std::size(odd)];
        } else if (random() % 4 == 0) {
            text += quad() + "/" + std::to_string(wide ? random() % 40 : 24 + random() % 12);
        } else if (random() % 3 == 0) {
            std::string first = quad();
            text += first + "-" + (wide || ascending ? quad() : first);
        } else {
            text += quad();
        }
        if (text.size() > 4000 && random() % (375 * odd_share) == 0) text += " 1.2.3.4";
        text += line_ends[random() % (odd_share * 5) < 16 ? random() % std::size(line_ends) : 0];
    }
    return text;
}

TEST(plain_lines, every_reader_reads_as_the_general_way)
{
    std::mt19937 random(5);
    for (int round = 0; round < 12; ++round) {
        testing::temporary_file file(mixed_lines(random, 20000 + random() % 200000));
        read_outcome general = read_with(plain_line_reader::none, file.path());
        EXPECT_GT(general.lines, 100) << "round " << round;
        for (plain_line_reader reader : {plain_line_reader::scalar, plain_line_reader::vector}) {
            read_outcome bulk = read_with(reader, file.path());
            EXPECT_EQ(bulk.list, general.list) << "round " << round;
            EXPECT_EQ(bulk.echo, general.echo) << "round " << round;
            EXPECT_EQ(bulk.messages, general.messages) << "round " << round;
            EXPECT_EQ(bulk.lines, general.lines) << "round " << round;
        }
    }
}

// A second processor reads the plain lines of the second half ahead, and stops at the first
// line of another kind: the read must be the same whether the general way meets a syntax
// error, an echoed byte, or a line the other processor stopped at, before the cut or after.
// The largest files give enough ranges out of order to be sorted with the list's own.
TEST(plain_lines, reading_ahead_reads_as_reading_in_turn)
{
    std::mt19937 random(7);
    struct shape {
        unsigned odd_share;
        bool ascending;
        std::size_t least = 20000, spread = 400000;
        int rounds = 6;
    };
    for (shape form : {shape{8, false}, shape{200, false}, shape{200, true}, shape{20000, false}, shape{20000, true},
                       shape{20000, false, 8'000'000, 1'000'000, 1}}) {
        for (int round = 0; round < form.rounds; ++round) {
            testing::temporary_file file(mixed_lines(random, form.least + random() % form.spread, form.odd_share, form.ascending));
            read_outcome in_turn = read_with(plain_line_reader::vector, file.path());
            for (plain_line_reader reader : {plain_line_reader::scalar, plain_line_reader::vector}) {
                read_outcome ahead = read_with(reader, file.path(), true);
                std::string name = "odd 1/" + std::to_string(form.odd_share) + (form.ascending ? " ascending" : "")
                                   + " round " + std::to_string(round);
                EXPECT_EQ(ahead.list, in_turn.list) << name;
                EXPECT_EQ(ahead.echo, in_turn.echo) << name;
                EXPECT_EQ(ahead.messages, in_turn.messages) << name;
                EXPECT_EQ(ahead.lines, in_turn.lines) << name;
            }
        }
    }
}

} // namespace
} // namespace blockset
