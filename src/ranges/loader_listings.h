#pragma once
#include <string>

#include "ranges/prefix_reduction.h"

namespace blockset {

class output_stream;
struct range_list;

/// A set in nftables: the family and name of its table, and its own name.
struct nft_set_name {
    std::string family;
    std::string table;
    std::string set;
    std::string set6; ///< the ipv6_addr set beside it, or empty when there is none
};

struct ipv6_list;

/// Writes what `nft -f FILE` applies in one transaction: the table and the interval set are
/// made when missing, the set's elements are flushed and the list's ranges added, in add
/// element commands of at most nft_elements_per_command elements each.
/// With an IPv6 set named, that set is made, flushed and filled with ipv6's blocks (none when
/// ipv6 is null) in the same transaction.
void range_list_write_nft(output_stream& out, range_list& list, ipv6_list* ipv6, const nft_set_name& name);
/// Each add element command names at most this many elements. nft does work in proportion to
/// the whole set for every command, so one command per element makes a load quadratic; a few
/// large commands keep it linear (measured over 200,000 blocks: 1,000 per command took 1.6
/// times the processor time of 50,000).
constexpr std::size_t nft_elements_per_command = 50000;

/// An ipset hash:net set, and the budget for writing its blocks in fewer prefix lengths.
struct ipset_set_name {
    std::string set;
    std::string set6; ///< the family inet6 set beside it, or empty when there is none
    bool reduced = false;
    entry_budget budget;
};

/// Writes what `ipset restore < FILE` applies to a live set that exists: the live set is checked
/// to be a hash:net set of family inet (nothing is filled otherwise; only its entry for
/// 0.0.0.0/32 is taken out), then a temporary set sized for the blocks is made and filled, the
/// two are swapped and the temporary destroyed. The whole space goes in as two /1 blocks,
/// which hash:net can hold.
/// With an IPv6 set named, that set is checked too (family inet6, ::/128) before anything is
/// filled, and then loaded the same way from ipv6's blocks (none when ipv6 is null), its /0 as
/// two /1; the reduced plan applies to the IPv4 set only.
/// The live set is not made when missing: ipset's create -exist refuses a set of that name
/// with another maxelem, and a restore stops at its first error, so one file could make a
/// missing set or load over one made elsewhere, not both. The recipes make it beforehand.
void range_list_write_ipset(output_stream& out, range_list& list, ipv6_list* ipv6, const ipset_set_name& name);
/// The temporary set's name: the live set's and this.
constexpr const char* ipset_temporary_suffix = "-new";
/// Every temporary set is made with this maxelem, the most blocks an IPv4 set can ever need, so
/// that no list is too large, and a live set swapped with it keeps room for blocks added by hand.
constexpr const char* ipset_maxelem = "2147483648";

} // namespace blockset
