#include "io/diagnostics.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "io/output_stream.h"

#include <sys/uio.h>
#include <unistd.h>

namespace blockset {

namespace {
std::string* capture_target = nullptr;

/// On a terminal, what the program printed so far should stand before a message.
void flush_output_before_message()
{
    static const bool output_is_terminal = isatty(STDOUT_FILENO) == 1;
    if (output_is_terminal) standard_output().flush();
}
} // namespace

void diagnostic(const char* format, ...)
{
    char small[512];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (length < 0) return;
    std::string large;
    const char* text = small;
    if (static_cast<std::size_t>(length) >= sizeof small) {
        large.resize(static_cast<std::size_t>(length) + 1);
        va_start(args, format);
        std::vsnprintf(large.data(), large.size(), format, args);
        va_end(args);
        text = large.data();
    }
    if (capture_target != nullptr) {
        capture_target->append(text, static_cast<std::size_t>(length));
        return;
    }
    flush_output_before_message();
    std::fwrite(text, 1, static_cast<std::size_t>(length), stderr);
}

void diagnostic_line(const char* text)
{
    std::size_t length = std::strlen(text);
    if (capture_target != nullptr) {
        capture_target->append(text, length).push_back('\n');
        return;
    }
    flush_output_before_message();
    char newline = '\n';
    iovec parts[] = {{const_cast<char*>(text), length}, {&newline, 1}};
    ssize_t ignored = ::writev(STDERR_FILENO, parts, 2);
    (void)ignored;
}

diagnostic_capture::diagnostic_capture() : previous_(capture_target) { capture_target = &text_; }

diagnostic_capture::~diagnostic_capture() { capture_target = previous_; }

} // namespace blockset
