#pragma once
#include <string>

namespace blockset {

/// Writes one of the program's messages on standard error, formatted like printf.
/// Every message goes through here, so tests can capture them in-process.
void diagnostic(const char* format, ...) __attribute__((format(printf, 1, 2)));

/// Writes text and a newline on standard error with write(2): no formatting and no
/// allocation, for the fatal endings, which must work when memory has run out.
void diagnostic_line(const char* text);

/// While one of these lives, diagnostics are appended to text() instead of standard error.
class diagnostic_capture {
public:
    diagnostic_capture();
    ~diagnostic_capture();
    diagnostic_capture(const diagnostic_capture&) = delete;
    diagnostic_capture& operator=(const diagnostic_capture&) = delete;
    const std::string& text() const { return text_; }

private:
    std::string text_;
    std::string* previous_;
};

} // namespace blockset
