// The auto reader on arbitrary bytes, read as they are and again wrapped in gzip: both reads
// must add the same ranges, print the same messages and give the same result (unless the
// bytes are gzip already). The list must stay in order, keep what it held, and the result
// must say whether anything was reported as unreadable or unread.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "input/auto_list.h"
#include "io/diagnostics.h"

using namespace blockset;

namespace {

struct outcome {
    std::vector<ip_range> ranges;
    std::string messages;
    int result;
};

outcome read_file(const std::string& path)
{
    range_list list;
    fuzzing::add_both_ends(list);
    range_list before;
    range_list_copy(list, before);
    diagnostic_capture messages;
    int result = auto_list_read(path.c_str(), list);
    fuzzing::check_invariant(list);
    fuzzing::check_kept(before, list);
    auto view = range_list_view(list);
    return {{view.begin(), view.end()}, messages.text(), result};
}

bool reports_a_failure(const std::string& messages)
{
    return messages.find("cannot read") != std::string::npos || messages.find("Error ") != std::string::npos ||
           messages.find("Bad magic") != std::string::npos || messages.find("Unsupported") != std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzing::prepare_process();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string path = fuzzing::scratch_path("input");
    fuzzing::write_file(path, data, size);
    outcome plain = read_file(path);
    if (plain.result != (reports_a_failure(plain.messages) ? -1 : 0)) std::abort();
    if (size >= 2 && data[0] == 0x1F && data[1] == 0x8B) return 0;
    std::vector<unsigned char> packed = fuzzing::gzip(data, size);
    fuzzing::write_file(path, packed.data(), packed.size());
    outcome wrapped = read_file(path);
    if (wrapped.ranges != plain.ranges || wrapped.messages != plain.messages || wrapped.result != plain.result) std::abort();
    return 0;
}
