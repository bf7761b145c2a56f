#pragma once
#include <cstdint>
#include <span>
#include <string_view>

#include "ranges/ip_range.h"
#include "ranges/ipv6_range.h"
#include "ranges/range_lookup.h"

namespace blockset {

/// The set the lines are matched against: the merged ranges of each family, as
/// range_list_view and ipv6_list_view give them, the IPv4 ones indexed for many lookups.
struct match_set {
    range_index ipv4;
    std::span<const ipv6_range> ipv6;
};

struct match_options {
    bool invert = false; ///< keep the lines that hold addresses, none of them in the set
    bool count = false;  ///< write how many lines are kept, one line per file, not the lines
};

/// What a line holds, as line_addresses_each finds its addresses: none, some but none in
/// the set, or one in the set at least.
enum class line_verdict { no_address, outside, inside };

/// Reads each file in turn (standard input when files is empty) and writes on standard
/// output, as it reads, each kept line byte for byte, or with options.count the number of
/// kept lines of each file read to its end; with more than one file each starts with the
/// file's path and ':'. Lines end at line feeds; a last line without one is kept as it is.
/// A file that cannot be opened or read is reported, the others are still read, and the
/// process ends with status 65. Reading stops once standard output cannot be written.
/// Returns how many lines were kept in all.
std::uint64_t log_match_files(const match_set& set, match_options options, std::span<const char* const> files);

} // namespace blockset
