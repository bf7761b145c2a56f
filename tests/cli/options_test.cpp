#include "cli/options.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace blockset {
namespace {

TEST(cli, program_name_drops_the_leading_directory_part)
{
    const struct {
        const char* argv0;
        const char* name;
    } cases[] = {
        {"blockset", "blockset"},
        {"/usr/local/bin/blockset", "blockset"},
        {"./build/blocker", "blocker"},
        {"../x", "x"},
        {"dir/", ""},
    };
    for (const auto& c : cases) EXPECT_STREQ(program_name(c.argv0), c.name) << c.argv0;
}

struct option_case {
    std::vector<std::string> arguments;
    std::string letters;
    int first_operand;
};

TEST(cli, options_are_read_only_in_front_of_the_first_operand)
{
    const option_case cases[] = {
        {{"-q", "p2b"}, "q", 2},
        {{"-q", "p2b", "list"}, "q", 2},
        {{"-cf", "x"}, "cf", 2},
        {{"-c", "-f", "x"}, "cf", 3},
        {{"-qq", "p2b"}, "qq", 2},
        {{"-x", "a"}, "x", 2},
        {{"-c", "-x"}, "cx", 3},
        {{"-c", "--", "-x"}, "c", 3},
        {{"-q", "--"}, "q", 3},
        {{"-q", "--", "p2b"}, "q", 3},
        {{"--", "-q"}, "", 2},
        {{"-q", "-", "x"}, "q", 2},
        {{"-", "-q"}, "", 1},
        {{"a", "b"}, "", 1},
        {{"p2b", "-q"}, "", 1},
        {{"-q", "p2b", "-c"}, "q", 2},
        {{"-q", "-", "--"}, "q", 2},
    };
    for (const option_case& c : cases) {
        std::vector<std::string> storage = {"blockset"};
        storage.insert(storage.end(), c.arguments.begin(), c.arguments.end());
        std::vector<char*> argv;
        for (std::string& argument : storage) argv.push_back(argument.data());
        argv.push_back(nullptr);
        std::string letters;
        int first = parse_options(static_cast<int>(storage.size()), argv.data(),
                                  [&](char letter) { letters += letter; });
        std::string label = ::testing::PrintToString(c.arguments);
        EXPECT_EQ(letters, c.letters) << label;
        EXPECT_EQ(first, c.first_operand) << label;
        // The arguments are never reordered.
        for (std::size_t i = 1; i < storage.size(); ++i) EXPECT_EQ(argv[i], storage[i].data()) << label;
    }
}

} // namespace
} // namespace blockset
