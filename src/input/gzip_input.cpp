#include "input/gzip_input.h"

#include <fcntl.h>
#include <new>
#include <unistd.h>
#include <zlib.h>

#include "io/file_opener.h"
#include "io/process.h"

namespace blockset {

namespace {

int zlib_error(gzFile file)
{
    int error = Z_OK;
    gzerror(file, &error);
    return error;
}

} // namespace

gzFile_s* gzip_input_open(const char* path, int* opened)
{
    gzFile file = nullptr;
    int fd = -1;
    if (path != nullptr) {
        fd = open_path(path, O_RDONLY);
        if (fd >= 0) {
            file = gzdopen(fd, "r");
            if (file == nullptr) ::close(fd);
        }
    } else if (claim_standard_input()) {
        fd = STDIN_FILENO;
        file = gzdopen(fd, "r");
    }
    if (opened != nullptr) *opened = file != nullptr ? fd : -1;
    if (file != nullptr) gzbuffer(file, 1 << 17);
    return file;
}

int gzip_input_read(gzFile_s* file, void* into, std::size_t room)
{
    int got = gzread(file, into, static_cast<unsigned>(room));
    if (got < 0) {
        // zlib allocates its inflate state on the first read: running out of memory there
        // is the same exhaustion as anywhere else, not a damaged file.
        if (zlib_error(file) == Z_MEM_ERROR) throw std::bad_alloc();
        return -1;
    }
    // The data ran out inside a gzip member, before its trailer: an interrupted download,
    // not a list that ends. Plain data never reports it, nor do bytes after a complete member.
    if (got == 0 && zlib_error(file) == Z_BUF_ERROR) return -1;
    return got;
}

bool gzip_input_read_to_end(gzFile_s* file)
{
    char scrap[1 << 14];
    for (;;) {
        int got = gzip_input_read(file, scrap, sizeof scrap);
        if (got <= 0) return got == 0;
    }
}

} // namespace blockset
