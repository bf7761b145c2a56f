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

read_outcome read_with(plain_line_reader reader, const std::string& path)
{
    text_list_set_plain_line_reader(reader);
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
    return outcome;
}

/// Plain lines of every literal form and size, among odd ones, lone carriage returns,
/// blanks and comments, and now and then a second entry on a line, which ends the read.
std::string mixed_lines(std::mt19937& random, std::size_t length)
{
    // Each of these is one entry or none, with echoed bytes.
    static const char* const odd[] = {"1.2.3",       "1.2.3.4/",    "1234.1.1.1",  "1.2.3.4-5.6.7", "1.2.3.4/123",
                                      "999.1.1.1",   "1..2.3",      "1.2.3.4.5",   "01.02.003.4",   "1.2.3.4//8",
                                      "1.2.3.4567",  "1.2.3.4-",    "-1.2.3.4",    "/8",            "",
                                      "0.0.0.0/31",  "9.9.9.9/33",  "5.5.5.5-1.1.1.1", "255.255.255.255-255.255.255.255"};
    static const char* const line_ends[] = {"\n", "\n", "\n", "\r\n", "\r\n", "\r", " \n", "#x\n", "\r\r\n"};
    auto quad = [&] {
        std::string text;
        for (int group = 0; group < 4; ++group) {
            if (group > 0) text += '.';
            text += std::to_string(random() % 4 == 0 ? random() % 300 : random() % 256);
        }
        return text;
    };
    std::string text;
    while (text.size() < length) {
        switch (random() % 8) {
        case 0:
            text += quad() + "/" + std::to_string(random() % 40);
            break;
        case 1:
        case 2:
            text += quad() + "-" + quad();
            break;
        case 3:
            text += odd[random() % std::size(odd)];
            break;
        default:
            text += quad();
        }
        if (text.size() > 4000 && random() % 3000 == 0) text += " 1.2.3.4";
        text += line_ends[random() % 20 < 12 ? 0 : random() % std::size(line_ends)];
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

} // namespace
} // namespace blockset
