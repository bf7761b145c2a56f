#include "io/output_stream.h"

#include <cerrno>
#include <unistd.h>

namespace blockset {

output_stream::output_stream(int fd, std::size_t capacity)
    : fd_(fd), buffer_(new char[capacity]), cursor_(buffer_), limit_(buffer_ + capacity)
{
}

output_stream::~output_stream()
{
    if (owned_) delete[] buffer_;
}

void output_stream::attach(int fd)
{
    fd_ = fd;
    cursor_ = buffer_;
    failed_ = false;
}

void output_stream::write_all(const char* data, std::size_t size)
{
    while (size > 0 && !failed_) {
        ssize_t written = ::write(fd_, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            failed_ = true;
        } else {
            data += written;
            size -= static_cast<std::size_t>(written);
        }
    }
}

void output_stream::drain()
{
    write_all(buffer_, static_cast<std::size_t>(cursor_ - buffer_));
    cursor_ = buffer_;
}

void output_stream::write_slow(std::string_view bytes)
{
    drain();
    if (bytes.size() >= static_cast<std::size_t>(limit_ - buffer_)) {
        write_all(bytes.data(), bytes.size());
    } else {
        std::memcpy(cursor_, bytes.data(), bytes.size());
        cursor_ += bytes.size();
    }
}

bool output_stream::flush()
{
    drain();
    return !failed_;
}

namespace {
char standard_output_storage[1 << 17];
// Constant-initialised: it exists before any code runs, so even the fatal endings can flush it.
constinit output_stream standard_output_stream(STDOUT_FILENO, standard_output_storage,
                                               sizeof standard_output_storage);
} // namespace

output_stream& standard_output() { return standard_output_stream; }

} // namespace blockset
