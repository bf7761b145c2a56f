#include "parallel/lines_ahead.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "input/plain_lines.h"
#include "platform/helper_thread.h"
#include "test_support.h"

namespace blockset {
namespace {

// What the second processor read is kept only while the file is the one it started on and
// unchanged: a file rewritten in place meanwhile (as a download or a copy over it does) has
// the reader go on alone from the cut, as reading in turn would.
TEST(lines_ahead, keeps_what_it_read_only_from_an_unchanged_file)
{
    if (usable_processors() < 2) GTEST_SKIP() << "one usable processor: nothing is read ahead";
    std::string text;
    for (std::uint32_t i = 0; text.size() < (std::size_t{3} << 20); ++i) {
        text += "10." + std::to_string(i >> 16 & 255) + "." + std::to_string(i >> 8 & 255) + "." + std::to_string(i & 255) + "\n";
    }
    const struct {
        const char* name;
        std::string rewritten; // empty: left as it is
        bool touched;          // the modification time moved on
        bool kept;
    } cases[] = {
        {"unchanged", "", false, true},
        {"rewritten longer", text + "1.2.3.4\n", false, false},
        {"rewritten shorter", text.substr(0, text.size() / 3), false, false},
        {"rewritten, same length", std::string(text.size() - 1, '#') + "\n", true, false},
    };
    for (const auto& c : cases) {
        testing::temporary_file file(text);
        const int fd = ::open(file.path(), O_RDONLY);
        ASSERT_GE(fd, 0);
        lines_ahead ahead;
        ahead.start(fd, read_plain_lines<range_run>, std::size_t{1} << 20);
        ASSERT_TRUE(ahead.running()) << c.name;
        if (!c.rewritten.empty()) {
            const int out = ::open(file.path(), O_WRONLY | O_TRUNC);
            ASSERT_EQ(::write(out, c.rewritten.data(), c.rewritten.size()), static_cast<ssize_t>(c.rewritten.size()));
            if (c.touched) {
                struct stat now {};
                ::fstat(out, &now);
                const timespec later[2] = {now.st_atim, {now.st_mtim.tv_sec + 1, now.st_mtim.tv_nsec}};
                ::futimens(out, later);
            }
            ::close(out);
        }
        const lines_ahead::found found = ahead.finish();
        EXPECT_EQ(found.end > ahead.cut(), c.kept) << c.name;
        EXPECT_EQ(found.ranges.empty(), !c.kept) << c.name;
        ahead.release();
        ::close(fd);
    }
}

} // namespace
} // namespace blockset
