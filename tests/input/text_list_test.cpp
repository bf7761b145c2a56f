#include "input/text_list.h"

#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "input/text_scanner.h"
#include "io/diagnostics.h"
#include "literal_samples.h"
#include "test_support.h"

namespace blockset {
namespace {

using testing::one;
using testing::ranges;
using testing::ranges_of;

/// Tokens ("KIND text"), echo, lines counted and list of one scan of the input.
struct scan_outcome {
    std::vector<std::string> tokens;
    std::string echo;
    int lines = 0;
    ranges list;
};

/// Scans the input as the text list does, through text_scanner_next_token, which reads most
/// literals' numbers while matching them; or through the general loop alone, every match from
/// next_match and the rules and every literal converted from its text.
scan_outcome scan(const std::string& input, bool general_loop)
{
    // Indexed by text_rule; 0 for the rules that are skipped.
    static const int token_of_rule[] = {CIDR, RANGE, ADDRESS, HOST, LINE_END, LINE_END, LINE_END, 0, 0};
    static const char* const kinds[] = {"CIDR ", "RANGE ", "ADDRESS ", "HOST ", "LINE_END"};
    scan_outcome outcome;
    scanner in(text_scan_rules);
    in.restart(input);
    range_list list;
    testing::output_capture echo;
    token_value value;
    for (;;) {
        int token;
        if (general_loop) {
            scan_match match;
            if (!in.next_match(match, value.text)) break;
            token = token_of_rule[match.rule];
            value.read = false;
            if (token == 0) continue;
        } else if ((token = text_scanner_next_token(in, value)) == TEXT_END) {
            break;
        }
        outcome.tokens.push_back(kinds[token - CIDR] + std::string(token == LINE_END ? "" : value.text));
        if (token != HOST && token != LINE_END) text_entry_add(list, token, value);
    }
    outcome.lines = in.line_number() - 1;
    outcome.echo = echo.text();
    outcome.list = ranges_of(list);
    return outcome;
}

TEST(text_scanner, literals_read_while_matched_agree_with_the_general_loop)
{
    // Lines of near-literals with every kind of line end, blanks and comments, long enough to
    // cross refills.
    static const char* const line_ends[] = {"\n", "\n", "\n", "\r\n", "\r", " # note\n", "\t\n", " "};
    std::mt19937 random(7);
    for (int round = 0; round < 40; ++round) {
        std::string input;
        for (std::size_t length = 4000 + random() % 30000; input.size() < length;)
            input += testing::near_literal(random) + line_ends[random() % std::size(line_ends)];
        scan_outcome general = scan(input, true);
        scan_outcome tokens = scan(input, false);
        ASSERT_EQ(tokens.tokens, general.tokens) << "round " << round;
        ASSERT_EQ(tokens.echo, general.echo) << "round " << round;
        ASSERT_EQ(tokens.lines, general.lines) << "round " << round;
        ASSERT_EQ(tokens.list, general.list) << "round " << round;
    }
}

struct token_case {
    std::string input;
    std::vector<std::string> tokens;
    std::string echo;
    int lines_counted;
};

class text_scanner_tokens : public ::testing::TestWithParam<token_case> {};

TEST_P(text_scanner_tokens, tokens_echo_and_line_count_by_either_loop)
{
    const token_case& row = GetParam();
    for (bool general_loop : {false, true}) {
        scan_outcome got = scan(row.input, general_loop);
        EXPECT_EQ(got.tokens, row.tokens) << "general loop " << general_loop;
        EXPECT_EQ(got.echo, row.echo) << "general loop " << general_loop;
        EXPECT_EQ(got.lines, row.lines_counted) << "general loop " << general_loop;
    }
}

INSTANTIATE_TEST_SUITE_P(
    text_list, text_scanner_tokens,
    ::testing::ValuesIn(std::vector<token_case>{
        // Longest match decides odd inputs.
        {"1234.1.1.1", {"ADDRESS 234.1.1.1"}, "1", 0},
        {"1.2.3.4/123", {"CIDR 1.2.3.4/12"}, "3", 0},
        {"1.2.3", {}, "1.2.3", 0},
        {"1.2.3.4-5.6.7", {"ADDRESS 1.2.3.4"}, "-5.6.7", 0},
        {"1.2.3.4/", {"ADDRESS 1.2.3.4"}, "/", 0},
        {"1.2.3.4-1.2.3.4/5", {"RANGE 1.2.3.4-1.2.3.4"}, "/5", 0},
        {"1.2.3.4/33", {"CIDR 1.2.3.4/33"}, "", 0},
        {"1.2.3.4567", {"ADDRESS 1.2.3.456"}, "7", 0},
        {"01.002.3.4", {"ADDRESS 01.002.3.4"}, "", 0},
        // Host names: labels begin with a letter; a trailing dot is not part of the name.
        {"gw-2.lan", {"HOST gw-2.lan"}, "", 0},
        {"a-", {"HOST a-"}, "", 0},
        {"host.", {"HOST host"}, ".", 0},
        {"a..b", {"HOST a", "HOST b"}, "..", 0},
        {"a.b-.c9", {"HOST a.b-.c9"}, "", 0},
        // Line ends: only a line feed (alone or after a carriage return) counts a line.
        {"\n", {"LINE_END"}, "", 1},
        {"a\r\nb\rc\n", {"HOST a", "LINE_END", "HOST b", "LINE_END", "HOST c", "LINE_END"}, "", 2},
        {"1.2.3.4\r", {"ADDRESS 1.2.3.4", "LINE_END"}, "", 0},
        {"\r\r\n\n", {"LINE_END", "LINE_END", "LINE_END"}, "", 2},
        // Comments run to the line feed, which stays a line end; a carriage return does not stop them.
        {"# x\r1.2.3.4\r\n5.6.7.8", {"LINE_END", "ADDRESS 5.6.7.8"}, "", 1},
        {"#", {}, "", 0},
        {"1.2.3.4#no blank needed", {"ADDRESS 1.2.3.4"}, "", 0},
        // Blanks and tabs are skipped; everything else is echoed one byte at a time.
        {" \t \t1.2.3.4-5.6.7.8\t\n", {"RANGE 1.2.3.4-5.6.7.8", "LINE_END"}, "", 1},
        {std::string("\0\f\v;", 4), {}, std::string("\0\f\v;", 4), 0},
        {"\xff" "a", {"HOST a"}, "\xff", 0},
    }),
    testing::named_by<&token_case::input>());

struct read_case {
    std::string input;
    ranges expected;
    std::string echo;
    int error_line; // line of the input named by the syntax error; 0 for none
    int lines_counted;
};

class text_list_reading : public ::testing::TestWithParam<read_case> {};

TEST_P(text_list_reading, adds_entries_counts_lines_and_leaves_nothing_to_the_next_read)
{
    const read_case& row = GetParam();
    testing::temporary_file file(row.input);
    testing::temporary_file next("7.7.7.7\n");
    range_list list;
    range_list after;
    const int first_line = text_scanner().line_number();
    diagnostic_capture messages;
    testing::output_capture echo;
    text_list_read(file.path(), list);
    EXPECT_EQ(ranges_of(list), row.expected);
    EXPECT_EQ(text_scanner().line_number() - first_line, row.lines_counted);
    // Input a syntax error left unread is dropped; the line count goes on.
    text_list_read(next.path(), after);
    EXPECT_EQ(ranges_of(after), ranges{one("7.7.7.7")});
    EXPECT_EQ(text_scanner().line_number() - first_line, row.lines_counted + 1);
    EXPECT_EQ(echo.text(), row.echo);
    const std::string error = "error: syntax error on line: " + std::to_string(first_line + row.error_line - 1) + "\n";
    EXPECT_EQ(messages.text(), row.error_line == 0 ? "" : error);
}

// Further reading cases, with host names, CR line ends and echo, run the real binary (e2e/cases/text).
INSTANTIATE_TEST_SUITE_P(
    text_list, text_list_reading,
    ::testing::ValuesIn(std::vector<read_case>{
        {"", {}, "", 0, 0},
        {"# only comments\n\n   \n\t# and blanks\n#", {}, "", 0, 4},
        {"10.0.0.1\r\n10.0.0.2\r\n", {testing::span("10.0.0.1", "10.0.0.2")}, "", 0, 2},
        {"1.2.3.4 5.6.7.8\n9.9.9.9\n", {one("1.2.3.4")}, "", 1, 0},
        {"1.1.1.1\n\n#\n2.2.2.2\n\n\n3.3.3.3 4.4.4.4\n5.5.5.5\n", {one("1.1.1.1"), one("2.2.2.2"), one("3.3.3.3")}, "",
         7, 6},
        {"\n\n\n1.2.3.4 #c", {one("1.2.3.4")}, "", 4, 3},
        {std::string("1.2.3.4\n\0\n", 10), {one("1.2.3.4")}, std::string("\0", 1), 0, 2},
    }),
    testing::named_by<&read_case::input>());

} // namespace
} // namespace blockset
