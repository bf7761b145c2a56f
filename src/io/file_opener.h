#pragma once
#include <sys/types.h>

namespace blockset {

/// Opens the file at path as open(2) does. Every file the program names on its command line
/// or in a script is opened through here, so that a harness can redirect the paths.
int open_path(const char* path, int flags, mode_t mode = 0);

/// Makes open_path call the given function until the guard ends, then the one before it.
class file_opener_override {
public:
    using opener = int (*)(const char* path, int flags, mode_t mode);
    explicit file_opener_override(opener replacement);
    ~file_opener_override();
    file_opener_override(const file_opener_override&) = delete;
    file_opener_override& operator=(const file_opener_override&) = delete;

private:
    opener previous_;
};

} // namespace blockset
