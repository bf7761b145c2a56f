// The command language on arbitrary script text. Every file a script names is one of four
// files in the scratch folder (chosen by the sum of the path's bytes modulo 4): f0 starts as
// a small P2B list, f1 as a small text list, f2 and f3 absent, so loads and saves meet.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "command_language/script_run.h"
#include "fuzz_support.h"
#include "io/diagnostics.h"
#include "io/file_opener.h"

using namespace blockset;

namespace {

std::string slot_paths[4];

const char* slot_for(const char* path)
{
    unsigned sum = 0;
    for (const char* c = path; *c != '\0'; ++c) sum += static_cast<unsigned char>(*c);
    return slot_paths[sum % 4].c_str();
}

const path_calls in_scratch_folder = {
    [](const char* path, int flags, mode_t mode) { return ::open(slot_for(path), flags, mode); },
    [](const char* path, char* buffer, std::size_t size) { return ::readlink(slot_for(path), buffer, size); },
    [](const char* from, const char* to) { return std::rename(slot_for(from), slot_for(to)); },
    [](const char* path) { return ::unlink(slot_for(path)); },
};

void reset_files()
{
    static const unsigned char p2b[] = {
        0xFF, 0xFF, 0xFF, 0xFF, 'P', '2', 'B', 3, 0, 0, 0, 2, 'a', 0, 'b', 0, 0, 0, 0, 2,
        0, 0, 0, 0, 10, 0, 0, 0, 10, 0, 0, 255, 0, 0, 0, 1, 255, 255, 255, 0, 255, 255, 255, 255};
    static const char text[] = "# sample\nname:1.2.3.4-1.2.3.9\n10.0.0.0/8\n192.168.0.1\nhost.example\n";
    fuzzing::write_file(slot_paths[0], p2b, sizeof p2b);
    fuzzing::write_file(slot_paths[1], text, sizeof text - 1);
    ::unlink(slot_paths[2].c_str());
    ::unlink(slot_paths[3].c_str());
}

/// One address per line of a set that can hold billions of them takes too long to be a
/// useful input: such scripts are left out.
bool too_slow(std::string_view script)
{
    if (script.find("single") == std::string_view::npos) return false;
    for (std::string_view word : {"invert", "load", "/", "-"}) {
        if (script.find(word) != std::string_view::npos) return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzing::prepare_process();
    for (int i = 0; i < 4; ++i) slot_paths[i] = fuzzing::scratch_path("f" + std::to_string(i));
    static path_calls_override confined(in_scratch_folder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view script(reinterpret_cast<const char*>(data), size);
    if (too_slow(script)) return -1;
    reset_files();
    diagnostic_capture messages;
    run_script_text(script);
    return 0;
}
