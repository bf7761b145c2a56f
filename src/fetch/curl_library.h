#pragma once
#include <string>

#include <curl/curl.h>

namespace blockset {

/// The libcurl calls a fetch makes. libcurl is loaded at the first fetch, not with the
/// program: it brings some thirty libraries whose loading and start-up code would otherwise
/// cost every run several times what a small script takes.
struct curl_calls {
    decltype(&::curl_global_init) global_init = nullptr;
    decltype(&::curl_easy_init) easy_init = nullptr;
    decltype(&::curl_easy_setopt) setopt = nullptr;
    decltype(&::curl_easy_perform) perform = nullptr;
    decltype(&::curl_easy_getinfo) getinfo = nullptr;
    decltype(&::curl_easy_cleanup) easy_cleanup = nullptr;
    decltype(&::curl_easy_strerror) strerror = nullptr;
    decltype(&::curl_easy_header) header = nullptr;
    decltype(&::curl_slist_append) slist_append = nullptr;
    decltype(&::curl_slist_free_all) slist_free_all = nullptr;
    decltype(&::curl_url) url = nullptr;
    decltype(&::curl_url_set) url_set = nullptr;
    decltype(&::curl_url_get) url_get = nullptr;
    decltype(&::curl_url_cleanup) url_cleanup = nullptr;
    decltype(&::curl_free) free = nullptr;
};

/// The calls of libcurl, loaded and initialised once, while one thread runs; null when that
/// failed, with the reason (the same at every later call).
const curl_calls* curl_library(std::string& reason);

} // namespace blockset
