#pragma once
#include <optional>
#include <string>
#include <vector>

#include "ranges/list_comparison.h"

namespace blockset {

class output_stream;

/// Sets compared side by side: their names, and the figures of each family (the IPv6 one
/// when any of the sets holds an IPv6 part).
struct compared_sets {
    std::vector<std::string> names;
    list_comparison ipv4;
    std::optional<list_comparison> ipv6;
};

/// A header row "family,name,ranges,blocks,addresses,only_here,NAME1,...", then one row per
/// set and family, in exact decimal numbers; names are quoted as RFC 4180 says where needed.
void compared_sets_write_csv(output_stream& out, const compared_sets& sets);

/// The same figures in aligned columns, numbers right-aligned in groups of three digits, and
/// a line with the union of all sets. A name longer than most_table_name characters is shown
/// as its first and last characters around "...".
void compared_sets_write_table(output_stream& out, const compared_sets& sets);
constexpr std::size_t most_table_name = 40;

} // namespace blockset
