#pragma once
#include <cstdint>

#include "ranges/ipv6_range.h"

namespace blockset {

class output_stream;
struct ipv6_list;

/// Longest text of an IPv6 address: eight groups of four digits and seven ':'.
constexpr int max_ipv6_text = 39;

/// Writes the address in its shortest standard text (lower case, no leading zeros, the first
/// longest run of two or more zero groups as "::", no dotted quad) and returns the end. The
/// destination needs max_ipv6_text bytes.
char* format_ipv6_address(char* out, ipv6_address address);

/// One line "address/n" per block: the fewest aligned blocks that cover the list, ascending.
void ipv6_list_write_cidr(output_stream& out, ipv6_list& list);
/// One line "first-last" per range.
void ipv6_list_write_ranges(output_stream& out, ipv6_list& list);

/// The most addresses ipv6_list_write_addresses writes: 2^24.
constexpr std::uint64_t most_listed_ipv6_addresses = std::uint64_t{1} << 24;
/// True when the list holds at most most_listed_ipv6_addresses addresses, so that a listing of
/// single addresses may be written; the caller refuses the listing otherwise.
bool ipv6_list_addresses_listable(ipv6_list& list);
/// One line per address, every address of every range in ascending order. Call it only on a
/// list that ipv6_list_addresses_listable accepts.
void ipv6_list_write_addresses(output_stream& out, ipv6_list& list);

/// One line "RANGES BLOCKS ADDRESSES": the number of ranges, of the blocks that
/// ipv6_list_write_cidr writes, and of addresses, exact (::/0 holds 2^128).
void ipv6_list_write_count(output_stream& out, ipv6_list& list);

} // namespace blockset
