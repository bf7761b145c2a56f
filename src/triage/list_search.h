#pragma once
#include <cstdint>
#include <string_view>

#include "ranges/ipv6_list.h"
#include "ranges/range_list.h"

namespace blockset {

class output_stream;

/// The addresses a search looks for, both families.
struct search_items {
    range_list ipv4;
    ipv6_list ipv6;
};

/// Adds the item: an address, block or range, IPv4 or IPv6, in the forms the auto reader
/// reads (a block's host bits cleared). False when text is none of these.
bool search_items_add(search_items& items, std::string_view text);

/// Writes "PATH:LINE:ENTRY" on out for each entry of the list at path, read as type ("p2b",
/// "text" or "auto", with that reader's rules), that holds at least one address of the items,
/// in file order. Returns how many lines it wrote. A list that cannot be read completely is
/// reported by its reader and makes the process end with status 65.
std::uint64_t list_search(search_items& items, std::string_view type, const char* path, output_stream& out);

} // namespace blockset
