#include "cli/options.h"

#include <cstring>

namespace blockset {

const char* program_name(const char* argv0)
{
    if (argv0 == nullptr) return "blockset";
    const char* slash = std::strrchr(argv0, '/');
    return slash != nullptr ? slash + 1 : argv0;
}

} // namespace blockset
