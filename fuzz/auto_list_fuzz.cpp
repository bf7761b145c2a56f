// The auto reader on arbitrary bytes, read as they are and again wrapped in gzip: both reads
// must add the same ranges, print the same messages and give the same result (unless the
// bytes are gzip already). The list must stay in order and keep what it held, and the result
// must say whether anything was reported as unreadable, unread, damaged or missing. The IPv6
// entries read must come out in order too.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "fuzz_support.h"
#include "input/auto_list.h"
#include "ranges/ipv6_list.h"

using namespace blockset;

namespace {

bool reports_a_failure(const std::string& messages)
{
    return messages.find("cannot read") != std::string::npos || messages.find("Error ") != std::string::npos ||
           messages.find("no addresses") != std::string::npos || messages.find("damaged JSON") != std::string::npos ||
           messages.find("JSON nested deeper") != std::string::npos || messages.find("JSON without a string") != std::string::npos ||
           messages.find("Bad magic") != std::string::npos || messages.find("Unsupported") != std::string::npos;
}

/// Reads both families; the IPv6 list must come out sorted, disjoint and non-adjacent.
int read_both_families(const char* path, range_list& list)
{
    ipv6_list ipv6;
    int result = auto_list_read(path, list, ipv6);
    std::span<const ipv6_range> ranges = ipv6_list_view(ipv6);
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        if (ranges[i].first > ranges[i].last) std::abort();
        if (i > 0 && reaches(ranges[i - 1], ranges[i])) std::abort();
    }
    return result;
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
    fuzzing::read_outcome plain = fuzzing::read_into_list(&read_both_families, path);
    if (plain.result != (reports_a_failure(plain.messages) ? -1 : 0)) std::abort();
    fuzzing::check_same_when_gzipped(&read_both_families, path, data, size, plain);
    return 0;
}
