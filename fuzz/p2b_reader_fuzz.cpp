// The P2B reader on arbitrary bytes, read as they are and again wrapped in gzip: both reads
// must add the same ranges and print the same messages (unless the bytes are gzip already).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "input/p2b_reader.h"

using namespace blockset;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzing::prepare_process();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string path = fuzzing::input_file(data, size);
    fuzzing::read_outcome plain = fuzzing::read_into_list(&p2b_read, path);
    if (plain.result != 0 && plain.result != -1) std::abort();
    fuzzing::check_same_when_gzipped(&p2b_read, path, data, size, plain);
    return 0;
}
