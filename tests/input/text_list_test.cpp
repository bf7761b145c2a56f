#include "input/text_list.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <iterator>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "input/entry_literals.h"
#include "input/resolver.h"
#include "input/text_scanner.h"
#include "io/diagnostics.h"
#include "literal_samples.h"
#include "test_support.h"

namespace blockset {
namespace {

using testing::ip;
using testing::near_literal;
using testing::one;
using testing::output_capture;
using testing::ranges;
using testing::ranges_of;
using testing::span;
using testing::temporary_file;

std::string describe(int token, std::string_view text)
{
    switch (token) {
    case CIDR:
        return "CIDR " + std::string(text);
    case RANGE:
        return "RANGE " + std::string(text);
    case ADDRESS:
        return "ADDRESS " + std::string(text);
    case HOST:
        return "HOST " + std::string(text);
    case LINE_END:
        return "LINE_END";
    default:
        return "token " + std::to_string(token);
    }
}

/// Tokens, echo, line count and list of one scan of the input.
struct scan_outcome {
    std::vector<std::string> tokens;
    std::string echo;
    int lines = 0;
    ranges list;
};

/// The scan through the general loop alone: every match from next_match and the rules, every
/// literal converted from its text.
scan_outcome scan_through_rules(const std::string& input)
{
    scan_outcome outcome;
    scanner in(text_scan_rules);
    in.restart(input);
    output_capture echo;
    range_list list;
    scan_match match;
    std::string_view text;
    while (in.next_match(match, text)) {
        switch (match.rule) {
        case text_rule_cidr:
            outcome.tokens.push_back(describe(CIDR, text));
            add_cidr_literal(list, text);
            break;
        case text_rule_range:
            outcome.tokens.push_back(describe(RANGE, text));
            add_range_literal(list, text);
            break;
        case text_rule_address:
            outcome.tokens.push_back(describe(ADDRESS, text));
            add_address_literal(list, text);
            break;
        case text_rule_host:
            outcome.tokens.push_back(describe(HOST, text));
            break;
        case text_rule_crlf:
        case text_rule_line_feed:
        case text_rule_carriage_return:
            outcome.tokens.push_back(describe(LINE_END, text));
            break;
        default:
            break;
        }
    }
    outcome.lines = in.line_number() - 1;
    outcome.echo = echo.text();
    outcome.list = ranges_of(list);
    return outcome;
}

/// The scan as the text list reads: tokens from text_scanner_next_token, which reads most
/// literals' numbers while matching them.
scan_outcome scan_by_tokens(const std::string& input)
{
    scan_outcome outcome;
    scanner in(text_scan_rules);
    in.restart(input);
    output_capture echo;
    range_list list;
    text_token_value value;
    for (int token; (token = text_scanner_next_token(in, value)) != TEXT_END;) {
        outcome.tokens.push_back(describe(token, value.text));
        if (token != HOST && token != LINE_END) text_entry_add(list, token, value);
    }
    outcome.lines = in.line_number() - 1;
    outcome.echo = echo.text();
    outcome.list = ranges_of(list);
    return outcome;
}

/// Lines of near-literals with every kind of line end, blanks and comments; long enough to
/// cross refills.
std::string literal_like_lines(std::mt19937& random, std::size_t length)
{
    static const char* const line_ends[] = {"\n", "\n", "\n", "\r\n", "\r", " # note\n", "\t\n", " "};
    std::string text;
    while (text.size() < length) text += near_literal(random) + line_ends[random() % std::size(line_ends)];
    return text;
}

TEST(text_scanner, literals_read_while_matched_agree_with_the_general_loop)
{
    std::mt19937 random(7);
    for (int round = 0; round < 40; ++round) {
        std::string input = literal_like_lines(random, 4000 + random() % 30000);
        scan_outcome general = scan_through_rules(input);
        scan_outcome tokens = scan_by_tokens(input);
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

TEST_P(text_scanner_tokens, tokens_echo_and_line_count)
{
    const token_case& row = GetParam();
    scanner in(text_scan_rules);
    in.restart(row.input);
    output_capture echo;
    std::vector<std::string> tokens;
    text_token_value value;
    for (int token; (token = text_scanner_next_token(in, value)) != TEXT_END;)
        tokens.push_back(describe(token, value.text));
    EXPECT_EQ(tokens, row.tokens);
    EXPECT_EQ(echo.text(), row.echo);
    EXPECT_EQ(in.line_number(), 1 + row.lines_counted);
}

INSTANTIATE_TEST_SUITE_P(
    text_list, text_scanner_tokens,
    ::testing::Values(
        // Longest match decides odd inputs.
        token_case{"1234.1.1.1", {"ADDRESS 234.1.1.1"}, "1", 0},
        token_case{"1.2.3.4/123", {"CIDR 1.2.3.4/12"}, "3", 0},
        token_case{"1.2.3", {}, "1.2.3", 0},
        token_case{"1.2.3.4-5.6.7", {"ADDRESS 1.2.3.4"}, "-5.6.7", 0},
        token_case{"1.2.3.4 - 5.6.7.8", {"ADDRESS 1.2.3.4", "ADDRESS 5.6.7.8"}, "-", 0},
        token_case{"1.2.3.4/", {"ADDRESS 1.2.3.4"}, "/", 0},
        token_case{"1.2.3.4abc", {"ADDRESS 1.2.3.4", "HOST abc"}, "", 0},
        token_case{"foo.1bar", {"HOST foo", "HOST bar"}, ".1", 0},
        token_case{"x_y", {"HOST x", "HOST y"}, "_", 0},
        token_case{"999.999.999.999", {"ADDRESS 999.999.999.999"}, "", 0},
        token_case{"1.2.3.4-1.2.3.4/5", {"RANGE 1.2.3.4-1.2.3.4"}, "/5", 0},
        token_case{"1.2.3.4/33", {"CIDR 1.2.3.4/33"}, "", 0},
        token_case{"1.2.3.4567", {"ADDRESS 1.2.3.456"}, "7", 0},
        token_case{"01.002.3.4", {"ADDRESS 01.002.3.4"}, "", 0},
        // Host names: labels begin with a letter; a trailing dot is not part of the name.
        token_case{"gw-2.lan", {"HOST gw-2.lan"}, "", 0},
        token_case{"a-", {"HOST a-"}, "", 0},
        token_case{"host.", {"HOST host"}, ".", 0},
        token_case{"a..b", {"HOST a", "HOST b"}, "..", 0},
        token_case{"a.b-.c9", {"HOST a.b-.c9"}, "", 0},
        // Line ends: only a line feed (alone or after a carriage return) counts a line.
        token_case{"\n", {"LINE_END"}, "", 1},
        token_case{"a\r\nb\rc\n", {"HOST a", "LINE_END", "HOST b", "LINE_END", "HOST c", "LINE_END"}, "", 2},
        token_case{"1.2.3.4\r", {"ADDRESS 1.2.3.4", "LINE_END"}, "", 0},
        token_case{"\r\r\n\n", {"LINE_END", "LINE_END", "LINE_END"}, "", 2},
        // Comments run to the line feed, which stays a line end; a carriage return does not stop them.
        token_case{"10.0.0.0/8   # a comment\n", {"CIDR 10.0.0.0/8", "LINE_END"}, "", 1},
        token_case{"# x\r1.2.3.4\r\n5.6.7.8", {"LINE_END", "ADDRESS 5.6.7.8"}, "", 1},
        token_case{"#", {}, "", 0},
        token_case{"1.2.3.4#no blank needed", {"ADDRESS 1.2.3.4"}, "", 0},
        // Blanks and tabs are skipped; everything else is echoed one byte at a time.
        token_case{" \t \t1.2.3.4-5.6.7.8\t\n", {"RANGE 1.2.3.4-5.6.7.8", "LINE_END"}, "", 1},
        token_case{std::string("\0\f\v;", 4), {}, std::string("\0\f\v;", 4), 0},
        token_case{"\xff" "a", {"HOST a"}, "\xff", 0}),
    testing::named_by<&token_case::input>());

/// Answers "good.host" with two addresses and fails every other name.
struct table_resolver {
    static int lookup(const char* node, const char*, const addrinfo*, addrinfo** result)
    {
        if (std::string(node) != "good.host") return EAI_NONAME;
        static sockaddr_in addresses[2];
        static addrinfo entries[2];
        const char* texts[2] = {"192.0.2.7", "192.0.2.1"};
        for (int i = 0; i < 2; ++i) {
            addresses[i] = sockaddr_in{};
            addresses[i].sin_family = AF_INET;
            addresses[i].sin_addr.s_addr = htonl(ip(texts[i]));
            entries[i] = addrinfo{};
            entries[i].ai_family = AF_INET;
            entries[i].ai_addr = reinterpret_cast<sockaddr*>(&addresses[i]);
            entries[i].ai_next = i == 0 ? &entries[1] : nullptr;
        }
        *result = entries;
        return 0;
    }
    static void release(addrinfo*) {}
};

/// "error: syntax error on line: N" for the given line of the input being read, counted from 1
/// at the line number the text scanner had when the read began.
std::string syntax_error_on(int first_line, int line) { return "error: syntax error on line: " + std::to_string(first_line + line - 1) + "\n"; }

struct read_case {
    std::string input;
    ranges expected;
    std::string echo;
    std::string lookup_messages;
    int error_line;      // line of the input named by the syntax error; 0 for none
    int lines_counted;
};

class text_list_reading : public ::testing::TestWithParam<read_case> {};

TEST_P(text_list_reading, adds_entries_as_they_are_read)
{
    const read_case& row = GetParam();
    resolver_override seam({&table_resolver::lookup, &table_resolver::release});
    temporary_file file(row.input);
    range_list list;
    int first_line = text_scanner().line_number();
    diagnostic_capture messages;
    output_capture echo;
    text_list_read(file.path(), list);
    EXPECT_EQ(echo.text(), row.echo);
    EXPECT_EQ(ranges_of(list), row.expected);
    std::string expected_messages = row.lookup_messages;
    if (row.error_line > 0) expected_messages += syntax_error_on(first_line, row.error_line);
    EXPECT_EQ(messages.text(), expected_messages);
    EXPECT_EQ(text_scanner().line_number() - first_line, row.lines_counted);
}

const std::string bad_host_message = "Host lookup for host 'bad.host' failed: " + std::string(gai_strerror(EAI_NONAME)) + "\n";

INSTANTIATE_TEST_SUITE_P(
    text_list, text_list_reading,
    ::testing::Values(
        read_case{"", {}, "", "", 0, 0},
        read_case{"# only comments\n\n   \n\t# and blanks\n#", {}, "", "", 0, 4},
        read_case{"10.0.0.0/8   # a few words\n", {span("10.0.0.0", "10.255.255.255")}, "", "", 0, 1},
        read_case{"10.0.0.5/24\n1.2.3.4-1.2.3.9\n9.9.9.9\ngood.host\n",
                  {span("1.2.3.4", "1.2.3.9"), one("9.9.9.9"), span("10.0.0.5", "10.0.0.255"), one("192.0.2.1"),
                   one("192.0.2.7")},
                  "", "", 0, 4},
        // Refused literals and failed lookups add nothing and the reading goes on.
        read_case{"999.1.1.1\n0.0.0.0/33\n10.0.0.9-10.0.0.1\nbad.host\n1.1.1.1\n", {one("1.1.1.1")}, "",
                  bad_host_message, 0, 5},
        // Every entry must be followed by a line end.
        read_case{"1.2.3.4\n5.6.7.8", {one("1.2.3.4"), one("5.6.7.8")}, "", "", 2, 1},
        read_case{"1.2.3.4 5.6.7.8\n9.9.9.9\n", {one("1.2.3.4")}, "", "", 1, 0},
        read_case{"1.1.1.1\n\n#\n2.2.2.2\n\n\n3.3.3.3 4.4.4.4\n5.5.5.5\n", {one("1.1.1.1"), one("2.2.2.2"), one("3.3.3.3")},
                  "", "", 7, 6},
        read_case{"good.host:1.2.3.4-1.2.3.5\n", {one("192.0.2.1"), one("192.0.2.7")}, ":", "", 1, 0},
        read_case{"bad.host:1.2.3.4-1.2.3.5\n", {}, ":", bad_host_message, 1, 0},
        read_case{"1.2.3\n4.4.4.4\n", {one("4.4.4.4")}, "1.2.3", "", 0, 2},
        read_case{"1.2.3.4/123\n", {span("1.2.3.4", "1.15.255.255")}, "3", "", 0, 1},
        // Line ends in carriage return and line feed, or a lone carriage return.
        read_case{"10.0.0.1\r\n10.0.0.2\r\n", {span("10.0.0.1", "10.0.0.2")}, "", "", 0, 2},
        read_case{"10.0.0.1\r# c\r10.0.0.2\r10.0.0.3\n10.0.0.4\r", {one("10.0.0.1"), one("10.0.0.4")}, "", "", 0, 1},
        read_case{"1.1.1.1\r2.2.2.2\r3.3.3.3 4.4.4.4\r5.5.5.5\r", {one("1.1.1.1"), one("2.2.2.2"), one("3.3.3.3")}, "",
                  "", 1, 0},
        read_case{"\n\n\n1.2.3.4 #c", {one("1.2.3.4")}, "", "", 4, 3},
        read_case{std::string("1.2.3.4\n\0\n", 10), {one("1.2.3.4")}, std::string("\0", 1), "", 0, 2}),
    testing::named_by<&read_case::input>());

TEST(text_list, line_numbers_go_on_across_reads_and_a_read_after_a_syntax_error_starts_afresh)
{
    temporary_file three_lines("1.1.1.1\n# two\n3.3.3.3\n");
    // The syntax error stops the read with input left in the scanner; the next read must not see it.
    temporary_file error_first("4.4.4.4 5.5.5.5\n6.6.6.6\n");
    temporary_file next("7.7.7.7\n");
    range_list list;
    int first_line = text_scanner().line_number();
    diagnostic_capture messages;
    for (const temporary_file* file : {&three_lines, &error_first, &next}) text_list_read(file->path(), list);
    EXPECT_EQ(messages.text(), syntax_error_on(first_line, 4));
    EXPECT_EQ(ranges_of(list), (ranges{one("1.1.1.1"), one("3.3.3.3"), one("4.4.4.4"), one("7.7.7.7")}));
}

TEST(text_list, missing_file_is_reported_and_leaves_the_list_alone)
{
    range_list list;
    range_list_add_range(list, ip("10.0.0.0"), ip("10.0.0.255"));
    int first_line = text_scanner().line_number();
    diagnostic_capture messages;
    output_capture out;
    text_list_read("/nonexistent/list.txt", list);
    EXPECT_EQ(messages.text(), "Error opening file /nonexistent/list.txt.\n");
    EXPECT_EQ(out.text(), "");
    EXPECT_EQ(ranges_of(list), (ranges{span("10.0.0.0", "10.0.0.255")}));
    EXPECT_EQ(text_scanner().line_number(), first_line);
}

TEST(text_list, long_comment_and_long_host_name_cross_refills)
{
    std::string comment = "#" + std::string(50000, 'c');
    std::string name(20000, 'h');
    temporary_file file("1.1.1.1 " + comment + "\n" + name + "\n2.2.2.2\n");
    resolver_override seam({&table_resolver::lookup, &table_resolver::release});
    range_list list;
    diagnostic_capture messages;
    text_list_read(file.path(), list);
    EXPECT_EQ(messages.text(), "Host lookup for host '" + name + "' failed: " + gai_strerror(EAI_NONAME) + "\n")
        << "the whole name reaches the resolver";
    EXPECT_EQ(ranges_of(list), (ranges{one("1.1.1.1"), one("2.2.2.2")}));
}

TEST(text_list, directory_path_ends_the_process_with_status_2)
{
    range_list list;
    EXPECT_EXIT(text_list_read("/", list), ::testing::ExitedWithCode(2), ::testing::Eq("input in flex scanner failed\n"));
}

TEST(text_list, standard_input_is_read_once)
{
    // Run in a fresh process so that no earlier test has taken standard input.
    const std::string style = GTEST_FLAG_GET(death_test_style);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            // The child runs this test afresh and skips destructors: files without names vanish anyway.
            testing::anonymous_file first("10.0.0.1\n");
            testing::anonymous_file later("10.0.0.2\n");
            ::dup2(first.fd(), STDIN_FILENO);
            range_list list;
            text_list_read(nullptr, list);
            bool read_once = ranges_of(list) == ranges{one("10.0.0.1")} && ::fcntl(STDIN_FILENO, F_GETFD) == -1;
            // Descriptor 0 is free now; a file opened next takes it, and must not be read.
            int reused = ::dup(later.fd());
            text_list_read(nullptr, list);
            bool untouched = reused == STDIN_FILENO && ranges_of(list) == ranges{one("10.0.0.1")} &&
                             ::lseek(reused, 0, SEEK_CUR) == 0;
            std::_Exit(read_once && untouched ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), ::testing::Eq(""));
    GTEST_FLAG_SET(death_test_style, style);
}

} // namespace
} // namespace blockset
