#include "parsing/scanner.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "io/diagnostics.h"
#include "io/output_stream.h"
#include "test_support.h"

namespace blockset {
namespace {

using testing::output_capture;
using testing::anonymous_file;

// A toy language: the keyword "if" (listed first, so it wins a tie with a word), words of
// letters, numbers that count only when a "/" follows (the "/" is right context, given back),
// and line feeds. Everything else is echoed.
enum toy_rule { toy_keyword, toy_word, toy_number, toy_line_feed };

scan_match toy_rules(std::string_view text, bool input_ended, bool& needs_more)
{
    auto at = [&](std::size_t i) -> int {
        if (i < text.size()) return static_cast<unsigned char>(text[i]);
        if (!input_ended) needs_more = true;
        return -1;
    };
    auto letter = [](int c) { return c >= 'a' && c <= 'z'; };
    auto digit = [](int c) { return c >= '0' && c <= '9'; };
    int c = at(0);
    if (letter(c)) {
        std::size_t n = 1;
        while (letter(at(n))) ++n;
        if (text.substr(0, n) == "if") return {toy_keyword, n};
        return {toy_word, n};
    }
    if (digit(c)) {
        std::size_t n = 1;
        while (digit(at(n))) ++n;
        if (at(n) == '/') return {toy_number, n};
        return {no_rule, 0};
    }
    if (c == '\n') return {toy_line_feed, 1};
    return {no_rule, 0};
}

const char* const toy_rule_names[] = {"keyword", "word", "number", "lf"};

std::string next_token(scanner& in)
{
    scan_match match;
    std::string_view text;
    if (!in.next_match(match, text)) return "end";
    return std::string(toy_rule_names[match.rule]) + ":" + std::string(text);
}

std::vector<std::string> all_tokens(scanner& in)
{
    std::vector<std::string> tokens;
    for (std::string token = next_token(in); token != "end"; token = next_token(in)) tokens.push_back(token);
    return tokens;
}

struct match_case {
    std::string input;
    std::vector<std::string> tokens;
    std::string echo;
    int lines = 0;
};

class scanner_matching : public ::testing::TestWithParam<match_case> {};

TEST_P(scanner_matching, takes_longest_match_and_echoes_the_rest)
{
    const match_case& row = GetParam();
    for (bool from_descriptor : {false, true}) {
        anonymous_file file(row.input);
        scanner in(toy_rules);
        if (from_descriptor)
            in.restart(file.fd());
        else
            in.restart(row.input);
        output_capture echo;
        EXPECT_EQ(all_tokens(in), row.tokens) << "from descriptor: " << from_descriptor;
        EXPECT_EQ(echo.text(), row.echo) << "from descriptor: " << from_descriptor;
        EXPECT_EQ(in.line_number(), 1 + row.lines) << "from descriptor: " << from_descriptor;
    }
}

INSTANTIATE_TEST_SUITE_P(
    scanner, scanner_matching,
    ::testing::Values(
        match_case{"", {}, ""},
        match_case{"if", {"keyword:if"}, ""},
        match_case{"iff", {"word:iff"}, ""},
        match_case{"if iff i", {"keyword:if", "word:iff", "word:i"}, "  "},
        match_case{"12/3", {"number:12"}, "/3"},
        match_case{"12", {}, "12"},
        match_case{"a\nb\n", {"word:a", "lf:\n", "word:b", "lf:\n"}, "", 2},
        match_case{std::string("\0a\0", 3), {"word:a"}, std::string("\0\0", 2)},
        match_case{"x-y", {"word:x", "word:y"}, "-"}),
    blockset::testing::named_by<&match_case::input>());

TEST(scanner, echo_keeps_its_place_among_other_output)
{
    scanner in(toy_rules);
    in.restart("ab-cd+12/");
    output_capture out;
    scan_match match;
    std::string_view text;
    while (in.next_match(match, text)) {
        standard_output().write("<");
        standard_output().write(text);
        standard_output().write(">");
    }
    EXPECT_EQ(out.text(), "<ab>-<cd>+<12>/");
}

TEST(scanner, tokens_split_by_a_refill_are_matched_whole)
{
    // The first fill takes 16383 bytes (the storage less one), so these tokens straddle the
    // first refill.
    for (std::size_t lead : {16377u, 16380u, 16381u, 16382u, 16383u}) {
        std::string input = std::string(lead, '\n') + "abcdef\n1234/";
        anonymous_file file(input);
        scanner in(toy_rules);
        in.restart(file.fd());
        output_capture echo;
        std::vector<std::string> tokens = all_tokens(in);
        ASSERT_EQ(tokens.size(), lead + 3) << lead;
        EXPECT_EQ(tokens[lead], "word:abcdef") << lead;
        EXPECT_EQ(tokens[lead + 2], "number:1234") << lead;
        EXPECT_EQ(echo.text(), "/") << lead;
    }
}

TEST(scanner, token_longer_than_the_storage_is_matched_whole)
{
    for (std::size_t length : {16383u, 16384u, 16385u, 40000u, 100000u}) {
        std::string word(length, 'w');
        anonymous_file file("x " + word + " y");
        scanner in(toy_rules);
        in.restart(file.fd());
        output_capture echo;
        EXPECT_EQ(next_token(in), "word:x");
        EXPECT_EQ(next_token(in), "word:" + word) << length;
        EXPECT_GE(in.capacity(), length) << length;
        EXPECT_EQ(next_token(in), "word:y");
        EXPECT_EQ(next_token(in), "end");
        EXPECT_EQ(echo.text(), "  ");
    }
}

TEST(scanner, end_of_input_is_reported_again_and_restart_starts_afresh_on_the_same_line_count)
{
    scanner in(toy_rules);
    anonymous_file file("one\ntwo");
    in.restart(file.fd());
    output_capture echo;
    EXPECT_EQ(all_tokens(in), (std::vector<std::string>{"word:one", "lf:\n", "word:two"}));
    EXPECT_EQ(next_token(in), "end");
    in.restart("\nthree\nheld");
    EXPECT_EQ(next_token(in), "lf:\n");
    EXPECT_EQ(next_token(in), "word:three");
    // Input still held is dropped; the line count goes on.
    in.restart("four");
    EXPECT_EQ(next_token(in), "word:four");
    EXPECT_EQ(next_token(in), "end");
    EXPECT_EQ(in.line_number(), 3);
}

TEST(scanner, instances_keep_their_state_apart)
{
    scanner words(toy_rules);
    scanner numbers(toy_rules);
    words.restart("alpha\nbeta gamma");
    numbers.restart("1/\n\n22/ 333/");
    output_capture echo;
    EXPECT_EQ(next_token(words), "word:alpha");
    EXPECT_EQ(next_token(numbers), "number:1");
    EXPECT_EQ(next_token(words), "lf:\n");
    EXPECT_EQ(next_token(words), "word:beta");
    // A whole run of the second instance in the middle of the first one's input.
    EXPECT_EQ(all_tokens(numbers), (std::vector<std::string>{"lf:\n", "lf:\n", "number:22", "number:333"}));
    EXPECT_EQ(next_token(words), "word:gamma");
    EXPECT_EQ(next_token(words), "end");
    EXPECT_EQ(words.line_number(), 2);
    EXPECT_EQ(numbers.line_number(), 3);
}

int interrupted_pipe_writer = -1;

void deliver_late_input(int)
{
    static const char late[] = "late input\n";
    ssize_t ignored = ::write(interrupted_pipe_writer, late, sizeof late - 1);
    (void)ignored;
    ::close(interrupted_pipe_writer);
}

TEST(scanner, interrupted_block_read_is_made_again_without_loss)
{
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    interrupted_pipe_writer = ends[1];
    struct sigaction action {};
    action.sa_handler = deliver_late_input;
    action.sa_flags = 0; // no SA_RESTART: the blocked read fails with EINTR
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    ASSERT_EQ(::sigaction(SIGALRM, &action, &previous), 0);
    // The signal comes while the scanner waits on the empty pipe; its handler then supplies
    // the input and closes the pipe.
    itimerval timer{};
    timer.it_value.tv_usec = 100000;
    ::setitimer(ITIMER_REAL, &timer, nullptr);

    scanner in(toy_rules);
    in.restart(ends[0]);
    output_capture echo;
    EXPECT_EQ(all_tokens(in), (std::vector<std::string>{"word:late", "word:input", "lf:\n"}));
    EXPECT_EQ(echo.text(), " ");
    ::sigaction(SIGALRM, &previous, nullptr);
    ::close(ends[0]);
}

TEST(scanner, report_parse_error_names_the_scanner_line)
{
    scanner in(toy_rules);
    const std::string lines(12, '\n');
    in.restart(lines);
    all_tokens(in);
    diagnostic_capture messages;
    report_parse_error(in, "syntax error");
    report_parse_error(in, "yacc stack overflow");
    EXPECT_EQ(messages.text(), "error: syntax error on line: 13\nerror: yacc stack overflow on line: 13\n");
}

TEST(scanner, directory_input_fails_the_first_read)
{
    // Opening a directory for reading succeeds; reading it does not.
    EXPECT_EXIT(
        {
            scanner in(toy_rules);
            in.restart(::open("/", O_RDONLY));
            scan_match match;
            std::string_view text;
            in.next_match(match, text);
        },
        ::testing::ExitedWithCode(2), ::testing::Eq("input in flex scanner failed\n"));
}

/// A pseudo-terminal pair: the scanner reads the slave, the test types on the master.
struct terminal {
    terminal()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        ::grantpt(master);
        ::unlockpt(master);
        slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    }
    ~terminal()
    {
        ::close(slave);
        ::close(master);
    }
    void type(const std::string& keys) { EXPECT_EQ(::write(master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size())); }
    int master;
    int slave;
};

TEST(scanner, terminal_line_is_scanned_once_typed_and_its_end_of_file_is_final)
{
    terminal tty;
    ASSERT_GE(tty.slave, 0);
    scanner in(toy_rules);
    in.restart(tty.slave);
    output_capture out;
    standard_output().write("prompt ");
    EXPECT_EQ(out.on_descriptor(), "");
    // Only one line is available and the terminal stays open: a block read would wait.
    tty.type("first line\n");
    EXPECT_EQ(next_token(in), "word:first");
    EXPECT_EQ(out.on_descriptor(), "prompt ");
    EXPECT_EQ(next_token(in), "word:line");
    EXPECT_EQ(next_token(in), "lf:\n");
    tty.type("second\n\x04");
    EXPECT_EQ(all_tokens(in), (std::vector<std::string>{"word:second", "lf:\n"}));
    // After Ctrl-D the terminal is not read again, whatever is typed next.
    tty.type("more\n");
    EXPECT_EQ(next_token(in), "end");
}

TEST(scanner, file_that_grows_after_its_end_is_not_read_again)
{
    anonymous_file file("one two");
    scanner in(toy_rules);
    in.restart(file.fd());
    output_capture echo;
    EXPECT_EQ(all_tokens(in), (std::vector<std::string>{"word:one", "word:two"}));
    // What the run itself may write there afterwards (a script that saves into its own file).
    ASSERT_EQ(::pwrite(file.fd(), " three", 6, 7), 6);
    EXPECT_EQ(next_token(in), "end");
}

TEST(scanner, interrupted_terminal_read_is_fatal)
{
    EXPECT_EXIT(
        {
            terminal tty;
            struct sigaction action {};
            action.sa_handler = [](int) {};
            sigemptyset(&action.sa_mask);
            ::sigaction(SIGALRM, &action, nullptr);
            itimerval timer{};
            timer.it_value.tv_usec = 100000;
            ::setitimer(ITIMER_REAL, &timer, nullptr);
            scanner in(toy_rules);
            in.restart(tty.slave);
            scan_match match;
            std::string_view text;
            in.next_match(match, text);
        },
        ::testing::ExitedWithCode(2), ::testing::Eq("input in flex scanner failed\n"));
}

} // namespace
} // namespace blockset
