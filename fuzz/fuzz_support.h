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
#include <vector>
#include <zlib.h>

#include "input/resolver.h"
#include "io/diagnostics.h"
#include "io/process.h"
#include "ranges/range_list.h"
#include "ranges/set_algebra.h"

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

/// The bytes compressed as one gzip stream.
inline std::vector<unsigned char> gzip(const std::uint8_t* data, std::size_t size)
{
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) std::abort();
    std::vector<unsigned char> packed(deflateBound(&stream, size) + 64);
    stream.next_in = const_cast<std::uint8_t*>(data);
    stream.avail_in = static_cast<uInt>(size);
    stream.next_out = packed.data();
    stream.avail_out = static_cast<uInt>(packed.size());
    if (deflate(&stream, Z_FINISH) != Z_STREAM_END) std::abort();
    packed.resize(stream.total_out);
    deflateEnd(&stream);
    return packed;
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

/// Something the list holds before a reader adds to it, at both ends of the address space.
inline void add_both_ends(range_list& list)
{
    range_list_insert(list, ip_range{0, 9});
    range_list_insert(list, ip_range{top_address - 9, top_address});
}

/// Aborts unless after still holds every address of before: a reader only ever adds.
inline void check_kept(range_list& before, range_list& after)
{
    range_list lost;
    range_list_difference(before, after, lost);
    if (!range_list_view(lost).empty()) std::abort();
}

/// What one read of a list file came to.
struct read_outcome {
    std::vector<ip_range> ranges;
    std::string messages;
    int result;
};

using list_reader = int (*)(const char* path, range_list& list);

/// Writes the fuzzer's bytes to the one scratch input file and returns its path.
inline std::string input_file(const std::uint8_t* data, std::size_t size)
{
    std::string path = scratch_path("input");
    write_file(path, data, size);
    return path;
}

/// Reads the file at path into a list that holds something already, with its messages
/// captured; aborts unless the list stays in order and keeps what it held.
inline read_outcome read_into_list(list_reader reader, const std::string& path)
{
    range_list list;
    add_both_ends(list);
    range_list before;
    range_list_copy(list, before);
    diagnostic_capture messages;
    int result = reader(path.c_str(), list);
    check_invariant(list);
    check_kept(before, list);
    auto view = range_list_view(list);
    return {{view.begin(), view.end()}, messages.text(), result};
}

/// Aborts unless the bytes wrapped in gzip read as they did plain (unless they are gzip already).
inline void check_same_when_gzipped(list_reader reader, const std::string& path, const std::uint8_t* data,
                                    std::size_t size, const read_outcome& plain)
{
    if (size >= 2 && data[0] == 0x1F && data[1] == 0x8B) return;
    std::vector<unsigned char> packed = gzip(data, size);
    write_file(path, packed.data(), packed.size());
    read_outcome wrapped = read_into_list(reader, path);
    if (wrapped.ranges != plain.ranges || wrapped.messages != plain.messages || wrapped.result != plain.result) std::abort();
}

} // namespace blockset::fuzzing
