#pragma once
#include <cstdio>
#include <string>
#include <unistd.h>

#include "io/output_stream.h"

namespace blockset::testing {

/// While one of these lives, descriptor 1 goes to a temporary file, so that what the program
/// writes through standard_output() (listings and the scanners' echo) can be compared.
class output_capture {
public:
    output_capture()
    {
        standard_output().flush();
        std::fflush(stdout);
        file_ = std::tmpfile();
        saved_ = ::dup(STDOUT_FILENO);
        ::dup2(::fileno(file_), STDOUT_FILENO);
    }
    ~output_capture()
    {
        restore();
        std::fclose(file_);
    }
    output_capture(const output_capture&) = delete;
    output_capture& operator=(const output_capture&) = delete;

    /// Everything written so far (standard output is flushed first).
    std::string text()
    {
        standard_output().flush();
        return on_descriptor();
    }

    /// What has reached the descriptor so far, without flushing standard output.
    std::string on_descriptor()
    {
        std::string bytes;
        char block[4096];
        // pread leaves the shared file offset alone, so later output still appends.
        for (ssize_t got; (got = ::pread(::fileno(file_), block, sizeof block, static_cast<off_t>(bytes.size()))) > 0;)
            bytes.append(block, static_cast<std::size_t>(got));
        return bytes;
    }

private:
    void restore()
    {
        if (saved_ < 0) return;
        standard_output().flush();
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
        saved_ = -1;
    }

    std::FILE* file_;
    int saved_;
};

} // namespace blockset::testing
