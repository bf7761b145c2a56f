#include "io/file_opener.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace blockset {
namespace {

std::string last_path;
int last_flags = 0;

int recording_opener(const char* path, int flags, mode_t)
{
    last_path = path;
    last_flags = flags;
    return -7;
}

TEST(file_opener, an_override_sees_every_open_and_the_system_returns_after_it)
{
    {
        file_opener_override redirect(&recording_opener);
        EXPECT_EQ(open_path("some/list.p2b", O_RDONLY), -7);
        EXPECT_EQ(last_path, "some/list.p2b");
        EXPECT_EQ(last_flags, O_RDONLY);
    }
    int fd = open_path("/dev/null", O_RDONLY);
    EXPECT_GE(fd, 0);
    if (fd >= 0) ::close(fd);
    last_path.clear();
    EXPECT_LT(open_path("/nonexistent/folder/file", O_RDONLY), 0);
    EXPECT_EQ(last_path, "");
}

} // namespace
} // namespace blockset
