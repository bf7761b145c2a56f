#include "io/diagnostics.h"

#include <cstdarg>
#include <cstdio>

#include "io/output_stream.h"

#include <unistd.h>

namespace blockset {

namespace {
std::string* capture_target = nullptr;
}

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
    // On a terminal, what the program printed so far should stand before the message.
    static const bool output_is_terminal = isatty(STDOUT_FILENO) == 1;
    if (output_is_terminal) standard_output().flush();
    std::fwrite(text, 1, static_cast<std::size_t>(length), stderr);
}

diagnostic_capture::diagnostic_capture() : previous_(capture_target) { capture_target = &text_; }

diagnostic_capture::~diagnostic_capture() { capture_target = previous_; }

} // namespace blockset
