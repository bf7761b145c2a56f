#pragma once
#include <string_view>

#include "ranges/ip_range.h"
#include "ranges/ipv6_range.h"

namespace blockset {

struct range_list;
struct ipv6_list;
class entry_consumer;

/// Name that messages give standard input when the auto reader reads it.
inline constexpr const char* auto_standard_input_name = "(stdin)";

/// Adds every entry of a published list to the lists (which are not cleared first): IPv4
/// entries, and IPv6 entries that carry IPv4 addresses (::ffff:a.b.c.d), to list, the other
/// IPv6 entries to ipv6. It tells the input's kind by content: P2B (plain or gzip),
/// gzip-compressed text, or text lines in the shapes lists are published in. path null means standard input, which can be read once
/// per run. Returns 0 when the input was read completely and every line was readable;
/// otherwise -1, after reporting what went wrong, and the process will end with status 65.
/// The lists keep whatever was readable either way.
int auto_list_read(const char* path, range_list& list, ipv6_list& ipv6);

/// Reads a published list as auto_list_read does, handing each entry to consumer instead: the
/// line it starts on (for a JSON object the line where the object begins, for P2B the record
/// number) and its text (the address or block, the range, the P2P line without its comment,
/// the field or the two fields of a row, the address field's text of a JSON object).
int auto_list_search(const char* path, entry_consumer& consumer);

/// One entry in a form the auto reader takes: an address, block (host bits cleared) or range,
/// IPv4 (an IPv4-mapped IPv6 entry included) or IPv6.
struct auto_entry {
    enum { none, ipv4, ipv6 } kind = none;
    ip_range range{0, 0};
    ipv6_range range6{0, 0};
};

/// The entry that text is, blanks around it aside; kind none when it is no whole entry.
auto_entry auto_entry_read(std::string_view text);

} // namespace blockset
