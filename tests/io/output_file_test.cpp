#include "io/output_file.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "io/diagnostics.h"
#include "io/file_opener.h"
#include "io/process.h"
#include "test_support.h"

namespace blockset {
namespace {

namespace fs = std::filesystem;

// What rename does cannot be arranged from outside without root (a mount point gives EBUSY,
// a failing disk EIO), so these tests stand in for it.
int rename_error = 0;
int failing_rename(const char*, const char*)
{
    errno = rename_error;
    return -1;
}
const path_calls refusing_rename = {system_path_calls().open, system_path_calls().readlink, &failing_rename,
                                    system_path_calls().unlink};

void write_new(output_stream& out, void*) { out.write("new\n"); }

/// A folder of its own holding list.txt with "old".
struct folder_with_old_file {
    std::string content() const { return testing::file_text(file); }
    std::size_t entries() const
    {
        auto first = fs::directory_iterator(folder.path());
        return static_cast<std::size_t>(std::distance(first, fs::directory_iterator()));
    }

    testing::temporary_folder folder;
    std::string file = folder.file("list.txt", "old\n");
};

TEST(output_file, a_target_that_cannot_be_renamed_over_is_written_in_place)
{
    for (int error : {EBUSY, EXDEV}) {
        folder_with_old_file dir;
        struct stat before {};
        ::stat(dir.file.c_str(), &before);
        rename_error = error;
        diagnostic_capture messages;
        {
            path_calls_override redirect(refusing_rename);
            write_output_file(dir.file.c_str(), &write_new, nullptr);
        }
        struct stat after {};
        ::stat(dir.file.c_str(), &after);
        EXPECT_EQ(dir.content(), "new\n") << error;
        EXPECT_EQ(after.st_ino, before.st_ino) << error;
        EXPECT_EQ(dir.entries(), 1u) << error;
        EXPECT_EQ(messages.text(), "") << error;
    }
}

TEST(output_file, a_failed_rename_keeps_the_old_file_and_ends_with_status_74)
{
    folder_with_old_file dir;
    rename_error = EIO;
    EXPECT_EXIT(
        {
            path_calls_override redirect(refusing_rename);
            write_output_file(dir.file.c_str(), &write_new, nullptr);
            std::exit(finish_process());
        },
        ::testing::ExitedWithCode(exit_write_error),
        ::testing::Eq("Error writing file '" + dir.file + "'.\n"));
    EXPECT_EQ(dir.content(), "old\n");
    EXPECT_EQ(dir.entries(), 1u);
}

} // namespace
} // namespace blockset
