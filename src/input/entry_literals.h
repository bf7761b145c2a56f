#pragma once
#include <string_view>

namespace blockset {

struct range_list;

// The conversions of the four entry forms shared by text lists and scripts. A text that is
// not one whole literal of its form, or whose numbers fail their checks (a group above 255,
// a prefix length above 32), adds nothing and prints nothing.

/// "a.b.c.d-e.f.g.h": adds the range as written (a reversed range adds nothing).
void add_range_literal(range_list& list, std::string_view text);
/// "a.b.c.d/n": adds a.b.c.d up to the end of its /n block; the host bits are kept.
void add_cidr_literal(range_list& list, std::string_view text);
/// "a.b.c.d": adds the one address.
void add_address_literal(range_list& list, std::string_view text);
/// Resolves the host name (IPv4) and adds each address, in the resolver's order; on failure
/// prints "Host lookup for host '%s' failed: %s" and adds nothing.
void host_lookup(range_list& list, std::string_view host_name);

} // namespace blockset
