#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace blockset {

/// What a fetch brings from where, within which bounds.
struct fetch_request {
    std::string url;
    std::string path; ///< the local copy
    std::uint64_t max_bytes = std::uint64_t{256} << 20; ///< the body, counted after decompression
    long connect_ms = 30'000; ///< until the connection stands
    long transfer_ms = 600'000; ///< the whole transfer, connection and redirects included
    std::string ca_file; ///< certificates to trust instead of the system's; empty: the system's
    std::string unreadable_bound; ///< the first bound whose value could not be read, as written
};

/// The words that set a bound of a fetch.
enum class fetch_bound { max_size, connect_timeout, timeout, ca_file };

/// The bound a word names ("max-size", "connect-timeout", "timeout", "ca-file"), if any.
std::optional<fetch_bound> fetch_bound_named(std::string_view word);

/// Sets the bound from its text: a size is a whole number of bytes with an optional unit B,
/// KiB, MiB or GiB; a time a whole number with an optional unit ms, s (the default) or min;
/// blanks may stand between number and unit. False, with the request unchanged, when the text
/// is no such value or is 0.
bool fetch_request_set(fetch_request& request, fetch_bound bound, std::string_view text);

/// Brings the copy at request.path up to date from request.url (http or https only, also for
/// redirects). The copy is replaced only by a complete answer that is no HTML page and reads
/// as an auto list holding an address; a 304 leaves it as it is. Otherwise the copy keeps its
/// bytes and inode, "'URL': REASON, 'PATH' kept" is reported, the process will end with status
/// 65, and false is returned. The server's ETag is kept in the file PATH.etag.
bool fetch_run(const fetch_request& request);

} // namespace blockset
