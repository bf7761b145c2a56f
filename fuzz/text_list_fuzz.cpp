// The text blocklist reader on arbitrary bytes: it must neither crash nor leave the list
// out of order, and it must only ever add to what the list held before.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "input/text_list.h"

using namespace blockset;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzing::prepare_process();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The reader reports its problems itself and returns nothing; read_into_list checks order
    // and that nothing held before is lost.
    fuzzing::read_into_list(
        [](const char* path, range_list& list) {
            text_list_read(path, list);
            return 0;
        },
        fuzzing::input_file(data, size));
    return 0;
}
