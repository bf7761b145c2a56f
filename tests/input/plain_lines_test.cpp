// The text reader takes the usual lines (an address literal before the line end) in bulk, and
// those of a large file's second half on a second processor.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "input/plain_lines.h"
#include "input/text_list.h"
#include "input/text_scanner.h"
#include "io/diagnostics.h"
#include "parallel/lines_ahead.h"
#include "platform/helper_thread.h"
#include "test_support.h"

namespace blockset {
namespace {

struct read_outcome {
    std::vector<ip_range> list;
    std::string echo;
    std::string messages;
    int lines = 0;
};

/// Reads path with the text reader.
read_outcome read_list(const std::string& path)
{
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
    return outcome;
}

/// Reads the text through a named pipe, which is never read ahead.
read_outcome read_in_turn(const testing::temporary_file& file, const std::string& text)
{
    const std::string pipe_path = std::string(file.path()) + ".pipe";
    if (::mkfifo(pipe_path.c_str(), 0600) != 0) return {};
    const pid_t writer = ::fork();
    if (writer == 0) {
        const int fd = ::open(pipe_path.c_str(), O_WRONLY);
        for (std::size_t at = 0; fd >= 0 && at < text.size();) {
            const ssize_t wrote = ::write(fd, text.data() + at, text.size() - at);
            if (wrote <= 0) break;
            at += static_cast<std::size_t>(wrote);
        }
        ::_exit(0);
    }
    read_outcome outcome = read_list(pipe_path);
    ::kill(writer, SIGKILL);
    ::waitpid(writer, nullptr, 0);
    ::unlink(pipe_path.c_str());
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

// A second processor reads the plain lines of a large file's second half ahead, and stops at
// the first line of another kind: the read must be the same as reading in turn (through a
// pipe, which is never read ahead) whether the general way meets a syntax error, an echoed
// byte, or a line the other processor stopped at, before the cut or after. Every file is large
// enough to be read ahead; the mostly plain ones must have had their second half taken.
TEST(plain_lines, reading_ahead_reads_as_reading_in_turn)
{
    if (usable_processors() < 2) GTEST_SKIP() << "one usable processor: nothing is read ahead";
    std::mt19937 random(7);
    struct shape {
        unsigned odd_share;
        bool ascending;
        int rounds;
    };
    for (const shape form : {shape{8, false, 2}, shape{200, false, 2}, shape{200, true, 2}, shape{20000, false, 3},
                       shape{20000, true, 3}}) {
        const unsigned taken_before = lines_ahead::taken_count();
        for (int round = 0; round < form.rounds; ++round) {
            const std::string text = mixed_lines(random, (1u << 20) + random() % 400000, form.odd_share, form.ascending);
            testing::temporary_file file(text);
            const read_outcome in_turn = read_in_turn(file, text);
            const read_outcome ahead = read_list(file.path());
            std::string name = "odd 1/" + std::to_string(form.odd_share) + (form.ascending ? " ascending" : "")
                               + " round " + std::to_string(round);
            EXPECT_EQ(ahead.list, in_turn.list) << name;
            EXPECT_EQ(ahead.echo, in_turn.echo) << name;
            EXPECT_EQ(ahead.messages, in_turn.messages) << name;
            EXPECT_EQ(ahead.lines, in_turn.lines) << name;
        }
        if (form.odd_share == 20000) {
            EXPECT_GT(lines_ahead::taken_count(), taken_before) << "odd 1/" << form.odd_share;
        }
    }
}

/// The entries and line counts of every run of plain lines in text, read by reader, and where
/// each run ends; the line after a run is stepped over.
template <class reader>
std::vector<std::uint64_t> plain_runs(const std::string& text, reader read)
{
    std::vector<std::uint64_t> seen;
    auto add = [&seen](std::uint32_t first, std::uint32_t last) { seen.push_back(std::uint64_t{first} << 32 | last); };
    const std::string held = text + std::string(plain_line_room, '\n');
    for (std::size_t at = 0; at + plain_line_room <= text.size();) {
        const plain_lines taken = read(std::string_view(held).substr(at), add);
        seen.push_back(at += taken.bytes);
        seen.push_back(static_cast<std::uint64_t>(taken.line_feeds));
        at = held.find('\n', at) + 1;
    }
    return seen;
}

// The vector reader of plain lines must read every run of them as its scalar twin does.
TEST(plain_lines, vector_reader_reads_as_the_scalar_one)
{
    if (!vector_quads_available()) GTEST_SKIP() << "this processor has no SSE4.1: there is no vector reader";
    std::mt19937 random(5);
    for (unsigned odd_share : {8u, 200u, 20000u}) {
        const std::string text = mixed_lines(random, 300000, odd_share);
        auto scalar = [](std::string_view held, auto& add) { return read_plain_lines_scalar(held, add); };
        auto vector = [](std::string_view held, auto& add) { return read_plain_lines_vector(held, add); };
        EXPECT_EQ(plain_runs(text, vector), plain_runs(text, scalar)) << "odd 1/" << odd_share;
    }
}

} // namespace
} // namespace blockset
