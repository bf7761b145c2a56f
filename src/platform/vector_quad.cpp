#include "platform/vector_quad.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace blockset {

bool vector_quads_available()
{
#if defined(__x86_64__) || defined(__i386__)
    // A query can cost a virtual machine microseconds; a run that reads no list makes none.
    static const bool available = [] {
        unsigned a = 0, b = 0, c = 0, d = 0;
        return __get_cpuid(1, &a, &b, &c, &d) != 0 && (c & bit_SSE4_1) != 0;
    }();
    return available;
#else
    return false;
#endif
}

} // namespace blockset
