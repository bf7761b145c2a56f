// The text blocklist reader on arbitrary bytes: it must neither crash nor leave the list
// out of order, and it must only ever add to what the list held before.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "input/text_list.h"
#include "io/diagnostics.h"

using namespace blockset;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzing::prepare_process();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string path = fuzzing::scratch_path("input");
    fuzzing::write_file(path, data, size);
    range_list list;
    fuzzing::add_both_ends(list);
    range_list before;
    range_list_copy(list, before);
    {
        diagnostic_capture messages;
        text_list_read(path.c_str(), list);
    }
    fuzzing::check_invariant(list);
    fuzzing::check_kept(before, list);
    return 0;
}
