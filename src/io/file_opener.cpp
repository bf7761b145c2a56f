#include "io/file_opener.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace blockset {

namespace {
int system_open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }

const path_calls system_calls = {&system_open, &::readlink, &std::rename, &::unlink};
const path_calls* active = &system_calls;
} // namespace

const path_calls& system_path_calls() { return system_calls; }

int open_path(const char* path, int flags, mode_t mode) { return active->open(path, flags, mode); }

ssize_t readlink_path(const char* path, char* buffer, std::size_t size)
{
    return active->readlink(path, buffer, size);
}

int rename_path(const char* from, const char* to) { return active->rename(from, to); }

int unlink_path(const char* path) { return active->unlink(path); }

path_calls_override::path_calls_override(const path_calls& replacement) : previous_(active)
{
    active = &replacement;
}

path_calls_override::~path_calls_override() { active = previous_; }

} // namespace blockset
