#pragma once
// Shared set-up of the fuzz targets: a scratch folder for the files they read and write,
// standard output sent to /dev/null, standard input never read, and a resolver that
// answers every lookup itself so that no input reaches the network.
#include <arpa/inet.h>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <string>
#include <string_view>
#include <unistd.h>

#include "input/resolver.h"
#include "io/process.h"
#include "ranges/range_list.h"

namespace blockset::fuzzing {

/// A private folder under /tmp, removed with its files when the process exits.
inline const std::string& scratch_folder()
{
    static const std::string folder = [] {
        char name[] = "/tmp/blockset-fuzz-XXXXXX";
        if (::mkdtemp(name) == nullptr) std::abort();
        return std::string(name);
    }();
    return folder;
}

inline std::string scratch_path(std::string_view name)
{
    return scratch_folder() + "/" + std::string(name);
}

/// Replaces the file's contents with the bytes.
inline void write_file(const std::string& path, const void* data, std::size_t size)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) std::abort();
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t written = ::write(fd, bytes, size);
        if (written <= 0) std::abort();
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    ::close(fd);
}

/// Host names of even length resolve to one address derived from the name; the others fail.
inline int fake_lookup(const char* node, const char*, const addrinfo*, addrinfo** result)
{
    std::size_t length = std::strlen(node);
    if (length % 2 != 0) return EAI_NONAME;
    std::uint32_t hash = 2166136261u;
    for (std::size_t i = 0; i < length; ++i) hash = (hash ^ static_cast<unsigned char>(node[i])) * 16777619u;
    auto* entry = static_cast<addrinfo*>(std::calloc(1, sizeof(addrinfo)));
    auto* address = static_cast<sockaddr_in*>(std::calloc(1, sizeof(sockaddr_in)));
    if (entry == nullptr || address == nullptr) std::abort();
    address->sin_family = AF_INET;
    address->sin_addr.s_addr = htonl(hash);
    entry->ai_family = AF_INET;
    entry->ai_addr = reinterpret_cast<sockaddr*>(address);
    entry->ai_addrlen = sizeof *address;
    *result = entry;
    return 0;
}

inline void fake_release(addrinfo* result)
{
    while (result != nullptr) {
        addrinfo* next = result->ai_next;
        std::free(result->ai_addr);
        std::free(result);
        result = next;
    }
}

inline void remove_scratch_folder()
{
    // Only plain files are ever made there.
    for (const char* name : {"input", "f0", "f1", "f2", "f3"}) ::unlink(scratch_path(name).c_str());
    ::rmdir(scratch_folder().c_str());
}

/// Call once from LLVMFuzzerInitialize.
inline void prepare_process()
{
    int null_output = ::open("/dev/null", O_WRONLY);
    if (null_output < 0 || ::dup2(null_output, STDOUT_FILENO) < 0) std::abort();
    ::close(null_output);
    // Standard input counts as already read: loads from it find nothing.
    claim_standard_input();
    static resolver_override fake({&fake_lookup, &fake_release});
    scratch_folder();
    std::atexit(&remove_scratch_folder);
}

/// Aborts unless the list's merged form is ascending, disjoint and non-adjacent.
inline void check_invariant(range_list& list)
{
    auto view = range_list_view(list);
    for (std::size_t i = 0; i < view.size(); ++i) {
        if (view[i].first > view[i].last) std::abort();
        if (i > 0 && (view[i - 1].last == top_address || view[i - 1].last + 1 >= view[i].first)) std::abort();
    }
}

} // namespace blockset::fuzzing
