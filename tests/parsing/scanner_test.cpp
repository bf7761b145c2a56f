#include "parsing/scanner.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "io/output_stream.h"
#include "test_support.h"

namespace blockset {
namespace {

using testing::anonymous_file;
using testing::output_capture;

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
    std::size_t n = 1;
    if (letter(at(0))) {
        while (letter(at(n))) ++n;
        return {text.substr(0, n) == "if" ? toy_keyword : toy_word, n};
    }
    if (digit(at(0))) {
        while (digit(at(n))) ++n;
        return at(n) == '/' ? scan_match{toy_number, n} : scan_match{no_rule, 0};
    }
    return at(0) == '\n' ? scan_match{toy_line_feed, 1} : scan_match{no_rule, 0};
}

const char* const toy_rule_names[] = {"keyword", "word", "number", "lf"};

std::string next_token(scanner& in)
{
    scan_match match;
    std::string_view text;
    if (!in.next_match(match, text)) return "end";
    return std::string(toy_rule_names[match.rule]) + ":" + std::string(text);
}

/// What scanning to the end writes on standard output: each match as <rule:text>, written
/// through standard_output(), among the bytes the scanner echoes.
std::string scan_output(scanner& in)
{
    output_capture out;
    for (std::string token = next_token(in); token != "end"; token = next_token(in))
        standard_output().write("<" + token + ">");
    return out.text();
}

struct match_case {
    std::string input;
    std::string output;
    int lines = 0;
};

class scanner_matching : public ::testing::TestWithParam<match_case> {};

TEST_P(scanner_matching, takes_longest_match_and_echoes_the_rest_in_place)
{
    const match_case& row = GetParam();
    for (bool from_descriptor : {false, true}) {
        anonymous_file file(row.input);
        scanner in(toy_rules);
        if (from_descriptor)
            in.restart(file.fd());
        else
            in.restart(row.input);
        EXPECT_EQ(scan_output(in), row.output) << "from descriptor: " << from_descriptor;
        EXPECT_EQ(in.line_number(), 1 + row.lines) << "from descriptor: " << from_descriptor;
    }
}

INSTANTIATE_TEST_SUITE_P(
    scanner, scanner_matching,
    ::testing::ValuesIn(std::vector<match_case>{
        {"", ""},
        {"if", "<keyword:if>"},
        {"iff", "<word:iff>"},
        {"if iff i", "<keyword:if> <word:iff> <word:i>"},
        {"12/3", "<number:12>/3"},
        {"12", "12"},
        {"ab-cd+12/", "<word:ab>-<word:cd>+<number:12>/"},
        {"a\nb\n", "<word:a><lf:\n><word:b><lf:\n>", 2},
        {std::string("\0a\0", 3), std::string("\0<word:a>\0", 10)},
    }),
    testing::named_by<&match_case::input>());

TEST(scanner, tokens_split_by_a_refill_or_longer_than_the_storage_are_matched_whole)
{
    // The first fill takes 16383 bytes (the storage less one): these leads put the word across
    // the first refill, and the longer words outgrow the storage.
    for (std::size_t lead : {0u, 16377u, 16380u, 16381u, 16382u, 16383u}) {
        for (std::size_t length : {6u, 16383u, 16384u, 16385u, 100000u}) {
            std::string lines(lead, '\n');
            std::string word(length, 'w');
            anonymous_file file(lines + word + " 1234/");
            scanner in(toy_rules);
            in.restart(file.fd());
            std::string expected;
            for (std::size_t i = 0; i < lead; ++i) expected += "<lf:\n>";
            ASSERT_EQ(scan_output(in), expected + "<word:" + word + "> <number:1234>/") << lead << " " << length;
            EXPECT_GE(in.capacity(), length);
            EXPECT_EQ(in.line_number(), 1 + static_cast<int>(lead));
        }
    }
}

TEST(scanner, end_of_input_is_final_until_a_restart_which_keeps_the_line_count)
{
    scanner in(toy_rules);
    anonymous_file file("one\ntwo\n");
    in.restart(file.fd());
    EXPECT_EQ(next_token(in), "word:one");
    // A file read to its end is not read again, even when it grows meanwhile (a script that
    // saves into its own file).
    ASSERT_EQ(::pwrite(file.fd(), "three", 5, 8), 5);
    EXPECT_EQ(scan_output(in), "<lf:\n><word:two><lf:\n>");
    EXPECT_EQ(next_token(in), "end");
    in.restart("\nthree\nheld");
    EXPECT_EQ(next_token(in), "lf:\n");
    EXPECT_EQ(next_token(in), "word:three");
    // Input still held is dropped; the line count goes on.
    in.restart("four");
    EXPECT_EQ(scan_output(in), "<word:four>");
    EXPECT_EQ(next_token(in), "end");
    EXPECT_EQ(in.line_number(), 4);
}

/// Raises SIGALRM in 0.1 s, to be handled by the handler without SA_RESTART, so that a read
/// blocked then fails with EINTR. Returns the action it replaced.
struct sigaction alarm_soon(void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    ::sigaction(SIGALRM, &action, &previous);
    itimerval timer{};
    timer.it_value.tv_usec = 100000;
    ::setitimer(ITIMER_REAL, &timer, nullptr);
    return previous;
}

int interrupted_pipe_writer = -1;

TEST(scanner, skip_moves_past_lines_read_elsewhere_wherever_they_are_held)
{
    // 100,000 lines of "ab": more than the storage holds and more than one read takes. The
    // other reader's count of line feeds is taken as it is.
    std::string text;
    for (int n = 0; n < 100000; ++n) text += "ab\n";
    text += "end\n";
    const struct {
        std::uint64_t lines_skipped;
        bool reaches;
    } rows[] = {{0, true}, {1, true}, {2000, true}, {50000, true}, {99999, true}, {100001, false}};
    for (const auto& row : rows) {
        anonymous_file file(text);
        scanner in(toy_rules);
        in.restart(file.fd());
        ASSERT_EQ(next_token(in), "word:ab");
        ASSERT_EQ(next_token(in), "lf:\n");
        const int first_line = in.line_number();
        EXPECT_EQ(in.skip(3 * row.lines_skipped, static_cast<int>(row.lines_skipped)), row.reaches) << row.lines_skipped;
        if (!row.reaches) continue;
        EXPECT_EQ(in.line_number() - first_line, static_cast<int>(row.lines_skipped));
        EXPECT_EQ(in.offset(), 3 * (row.lines_skipped + 1));
        EXPECT_EQ(next_token(in), row.lines_skipped == 99999 ? "word:end" : "word:ab") << row.lines_skipped;
    }
}

TEST(scanner, interrupted_read_is_made_again_from_a_pipe_and_fatal_from_a_terminal)
{
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    interrupted_pipe_writer = ends[1];
    // The signal comes while the scanner waits on the empty pipe; its handler then supplies
    // the input and closes the pipe.
    struct sigaction previous = alarm_soon([](int) {
        static const char late[] = "late input\n";
        ssize_t ignored = ::write(interrupted_pipe_writer, late, sizeof late - 1);
        (void)ignored;
        ::close(interrupted_pipe_writer);
    });
    scanner in(toy_rules);
    in.restart(ends[0]);
    EXPECT_EQ(scan_output(in), "<word:late> <word:input><lf:\n>");
    ::sigaction(SIGALRM, &previous, nullptr);
    ::close(ends[0]);

    EXPECT_EXIT(
        {
            int terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
            ::grantpt(terminal);
            ::unlockpt(terminal);
            alarm_soon([](int) {});
            scanner in(toy_rules);
            in.restart(::open(::ptsname(terminal), O_RDWR | O_NOCTTY));
            next_token(in);
        },
        ::testing::ExitedWithCode(2), ::testing::Eq("input in flex scanner failed\n"));
}

} // namespace
} // namespace blockset
