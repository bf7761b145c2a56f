#include "fetch/curl_library.h"

#include <string>

#include <dlfcn.h>

#ifndef BLOCKSET_CURL_LIBRARY
#error "the build names the libcurl to load in BLOCKSET_CURL_LIBRARY"
#endif

namespace blockset {

namespace {

template <typename call>
bool find_call(void* library, const char* name, call& slot)
{
    void* found = ::dlsym(library, name);
    slot = reinterpret_cast<call>(found);
    return found != nullptr;
}

bool find_calls(void* library, curl_calls& calls)
{
    return find_call(library, "curl_global_init", calls.global_init) &&
           find_call(library, "curl_easy_init", calls.easy_init) &&
           find_call(library, "curl_easy_setopt", calls.setopt) &&
           find_call(library, "curl_easy_perform", calls.perform) &&
           find_call(library, "curl_easy_getinfo", calls.getinfo) &&
           find_call(library, "curl_easy_cleanup", calls.easy_cleanup) &&
           find_call(library, "curl_easy_strerror", calls.strerror) &&
           find_call(library, "curl_easy_header", calls.header) &&
           find_call(library, "curl_slist_append", calls.slist_append) &&
           find_call(library, "curl_slist_free_all", calls.slist_free_all) &&
           find_call(library, "curl_url", calls.url) && find_call(library, "curl_url_set", calls.url_set) &&
           find_call(library, "curl_url_get", calls.url_get) &&
           find_call(library, "curl_url_cleanup", calls.url_cleanup) && find_call(library, "curl_free", calls.free);
}

struct loaded_library {
    curl_calls calls;
    bool ready = false;
    std::string reason;
};

loaded_library load()
{
    loaded_library loaded;
    // The library stays loaded for the rest of the process.
    void* library = ::dlopen(BLOCKSET_CURL_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* why = ::dlerror();
        loaded.reason = std::string("cannot load libcurl: ") + (why != nullptr ? why : BLOCKSET_CURL_LIBRARY);
    } else if (!find_calls(library, loaded.calls)) {
        loaded.reason = "cannot load libcurl: " BLOCKSET_CURL_LIBRARY " lacks a call (7.84 or later is needed)";
    } else if (loaded.calls.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        loaded.reason = "cannot start libcurl";
    } else {
        loaded.ready = true;
    }
    return loaded;
}

} // namespace

const curl_calls* curl_library(std::string& reason)
{
    static const loaded_library loaded = load();
    reason = loaded.reason;
    return loaded.ready ? &loaded.calls : nullptr;
}

} // namespace blockset
