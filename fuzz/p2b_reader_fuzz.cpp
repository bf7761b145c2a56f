// The P2B reader on arbitrary bytes, read as they are and again wrapped in gzip: both reads
// must add the same ranges and print the same messages (unless the bytes are gzip already).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>
#include <zlib.h>

#include "fuzz_support.h"
#include "input/p2b_reader.h"
#include "io/diagnostics.h"

using namespace blockset;

namespace {

std::vector<unsigned char> gzip(const std::uint8_t* data, std::size_t size)
{
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) std::abort();
    std::vector<unsigned char> packed(deflateBound(&stream, size) + 64);
    stream.next_in = const_cast<std::uint8_t*>(data);
    stream.avail_in = static_cast<uInt>(size);
    stream.next_out = packed.data();
    stream.avail_out = static_cast<uInt>(packed.size());
    if (deflate(&stream, Z_FINISH) != Z_STREAM_END) std::abort();
    packed.resize(stream.total_out);
    deflateEnd(&stream);
    return packed;
}

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
    std::vector<unsigned char> packed = gzip(data, size);
    fuzzing::write_file(path, packed.data(), packed.size());
    outcome wrapped = read_file(path);
    if (wrapped.ranges != plain.ranges || wrapped.messages != plain.messages || wrapped.result != plain.result) std::abort();
    return 0;
}
