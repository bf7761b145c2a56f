// The P2B reader on arbitrary bytes, read as they are and again wrapped in gzip: both reads
// must add the same ranges and print the same messages (unless the bytes are gzip already).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "input/p2b_reader.h"
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
    diagnostic_capture messages;
    int result = p2b_read(path.c_str(), list);
    fuzzing::check_invariant(list);
    auto view = range_list_view(list);
    return {{view.begin(), view.end()}, messages.text(), result};
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
    if (plain.result != 0 && plain.result != -1) std::abort();
    if (size >= 2 && data[0] == 0x1F && data[1] == 0x8B) return 0;
    std::vector<unsigned char> packed = fuzzing::gzip(data, size);
    fuzzing::write_file(path, packed.data(), packed.size());
    outcome wrapped = read_file(path);
    if (wrapped.ranges != plain.ranges || wrapped.messages != plain.messages || wrapped.result != plain.result) std::abort();
    return 0;
}
