// The auto reader on arbitrary bytes, read as they are and again wrapped in gzip: both reads
// must add the same ranges, print the same messages and give the same result (unless the
// bytes are gzip already). The list must stay in order and keep what it held, and the result
// must say whether anything was reported as unreadable, unread, damaged or missing.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "input/auto_list.h"

using namespace blockset;

namespace {

bool reports_a_failure(const std::string& messages)
{
    return messages.find("cannot read") != std::string::npos || messages.find("Error ") != std::string::npos ||
           messages.find("no addresses") != std::string::npos || messages.find("damaged JSON") != std::string::npos ||
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
    const std::string path = fuzzing::input_file(data, size);
    fuzzing::read_outcome plain = fuzzing::read_into_list(&auto_list_read, path);
    if (plain.result != (reports_a_failure(plain.messages) ? -1 : 0)) std::abort();
    fuzzing::check_same_when_gzipped(&auto_list_read, path, data, size, plain);
    return 0;
}
