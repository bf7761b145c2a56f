#include "map/drawing_libraries.h"

#include <string>

#include <dlfcn.h>

namespace blockset {

namespace {

cairo_calls cairo_table;
png_calls png_table;

/// Opens the library by its file name (the name the system's loader looks up) and fills
/// the table; "" or why not.
template <typename table_type>
std::string load_library(const char* file, table_type& table, void (*fill)(void* handle, table_type&, std::string&))
{
    void* handle = ::dlopen(file, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* error = ::dlerror();
        return error != nullptr ? error : std::string(file) + " cannot be loaded";
    }
    // Never closed: maps may be drawn until the process ends.
    std::string why;
    fill(handle, table, why);
    return why;
}

/// The call's address, or "" and the missing name in why.
template <typename call_type>
void find_call(void* handle, const char* name, call_type& call, std::string& why)
{
    call = reinterpret_cast<call_type>(::dlsym(handle, name));
    if (call == nullptr && why.empty()) why = std::string(name) + " is missing";
}

#define BLOCKSET_FIND_CALL(member, symbol) find_call(handle, #symbol, table.member, why);

void fill_cairo(void* handle, cairo_calls& table, std::string& why) { BLOCKSET_CAIRO_CALLS(BLOCKSET_FIND_CALL) }

void fill_png(void* handle, png_calls& table, std::string& why) { BLOCKSET_PNG_CALLS(BLOCKSET_FIND_CALL) }

#undef BLOCKSET_FIND_CALL

} // namespace

const std::string& drawing_libraries_load()
{
    static const std::string why = [] {
        std::string cairo_why = load_library(BLOCKSET_CAIRO_LIBRARY, cairo_table, fill_cairo);
        return cairo_why.empty() ? load_library(BLOCKSET_PNG_LIBRARY, png_table, fill_png) : cairo_why;
    }();
    return why;
}

const cairo_calls& cairo() { return cairo_table; }

const png_calls& png() { return png_table; }

} // namespace blockset

#if defined(__SANITIZE_ADDRESS__)
#define BLOCKSET_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BLOCKSET_LEAK_CHECKED 1
#endif
#endif
#ifdef BLOCKSET_LEAK_CHECKED
/// Under the leak checker: fontconfig keeps what it read of its configuration, the first time
/// cairo asks it for a font, until the process ends, where the checker takes it for a leak.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
/// The checker would list the suppression used on standard error, which the tests compare.
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
#endif
