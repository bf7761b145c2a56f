#pragma once

namespace blockset {

struct range_list;
struct ipv6_list;

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

} // namespace blockset
