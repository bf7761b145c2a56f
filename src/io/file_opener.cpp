#include "io/file_opener.h"

#include <fcntl.h>

namespace blockset {

namespace {
int system_open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
file_opener_override::opener active = &system_open;
} // namespace

int open_path(const char* path, int flags, mode_t mode) { return active(path, flags, mode); }

file_opener_override::file_opener_override(opener replacement) : previous_(active)
{
    active = replacement;
}

file_opener_override::~file_opener_override() { active = previous_; }

} // namespace blockset
