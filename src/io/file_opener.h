#pragma once
#include <cstddef>
#include <sys/types.h>

namespace blockset {

/// The calls through which the program reaches every path it names on its command line or in
/// a script, so that a harness can redirect the paths. Each behaves as its POSIX namesake.
struct path_calls {
    int (*open)(const char* path, int flags, mode_t mode);
    ssize_t (*readlink)(const char* path, char* buffer, std::size_t size);
    int (*rename)(const char* from, const char* to);
    int (*unlink)(const char* path);
};

/// The calls of the system itself.
const path_calls& system_path_calls();

int open_path(const char* path, int flags, mode_t mode = 0);
ssize_t readlink_path(const char* path, char* buffer, std::size_t size);
int rename_path(const char* from, const char* to);
/// Safe to call from a signal handler when the active calls are.
int unlink_path(const char* path);

/// Makes the path functions above use the given calls until the guard ends, then the ones
/// before it.
class path_calls_override {
public:
    explicit path_calls_override(const path_calls& replacement);
    ~path_calls_override();
    path_calls_override(const path_calls_override&) = delete;
    path_calls_override& operator=(const path_calls_override&) = delete;

private:
    const path_calls* previous_;
};

} // namespace blockset
