#pragma once
#include <cstddef>
#include <string_view>

#include "ranges/ip_range.h"
#include "ranges/ipv6_range.h"

namespace blockset {

/// What an entry of a published list holds, as read_ipv6_entry tells it.
enum class ipv6_entry_kind {
    not_ipv6,  ///< the entry does not look like IPv6 at all; other readers may try it
    ipv6,      ///< an IPv6 range
    ipv4,      ///< an IPv4 range, written as IPv4-mapped addresses (::ffff:a.b.c.d)
    malformed, ///< it looks like IPv6 but is not a readable entry: an unreadable line
};

struct ipv6_entry {
    ipv6_entry_kind kind = ipv6_entry_kind::not_ipv6;
    ipv6_range range{0, 0};      ///< when kind is ipv6
    ip_range ipv4_range{0, 0};   ///< when kind is ipv4
    std::size_t length = 0;      ///< bytes the entry takes from the text's start, when read
};

/// Reads the IPv6 entry at the start of text, which runs from the entry's first byte to the
/// end of its line, or is exactly one field. An entry ends at the text's end, a blank, a line
/// end or where a comment starts ("#", ";", "//"); what follows it is the caller's.
///
/// The forms: an address ("2001:db8::1", with a dotted quad at the end as in "::ffff:1.2.3.4"),
/// a block "address/n" (n from 0 to 128; the host bits are cleared), a range "a-b" or "a - b",
/// two address fields "a b", and "name:a-b" (or "name:a - b"), whose name ends at the first
/// ':' that the range follows. Digits in either case. An entry whose addresses all lie in
/// ::ffff:0:0/96 is the IPv4 range they carry; any other entry is IPv6 as written.
///
/// Malformed: zone ids ("fe80::1%eth0"), brackets, ":::", more than one "::", groups of five
/// or more digits, too many or too few groups, a dotted quad out of place or above 255, a
/// prefix above 128, a reversed range.
ipv6_entry read_ipv6_entry(std::string_view text);

} // namespace blockset
