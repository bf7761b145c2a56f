#include "ranges/loader_listings.h"

#include <algorithm>
#include <bit>
#include <string_view>

#include "io/output_stream.h"
#include "ranges/address_format.h"
#include "ranges/cidr_walk.h"
#include "ranges/ipv6_list.h"
#include "ranges/ipv6_listings.h"
#include "ranges/range_list.h"

namespace blockset {

namespace {

void write_address(output_stream& out, std::uint32_t address)
{
    char* p = out.reserve(address_text_room);
    out.commit(format_address(p, address));
}

void write_number(output_stream& out, std::uint64_t number)
{
    std::string text = std::to_string(number);
    out.write(text);
}

/// One element of an interval set: an address, a block "a.b.c.d/n", or a range "a-b".
void write_nft_element(output_stream& out, const ip_range& range)
{
    write_address(out, range.first);
    if (range.last == range.first) return;
    std::uint64_t size = std::uint64_t{range.last} - range.first + 1;
    bool block = (size & (size - 1)) == 0 && (range.first & (size - 1)) == 0;
    if (block) {
        out.put('/');
        write_number(out, 32 - static_cast<unsigned>(std::countr_zero(size)));
        return;
    }
    out.put('-');
    write_address(out, range.last);
}

/// Writes an IPv6 block "address/length".
void write_ipv6_block(output_stream& out, ipv6_address address, unsigned length)
{
    char* p = out.reserve(max_ipv6_text + 5);
    p = format_ipv6_address(p, address);
    *p++ = '/';
    if (length >= 100) {
        *p++ = '1';
        length -= 100;
        if (length < 10) *p++ = '0';
    }
    out.commit(format_small_number(p, length));
}

std::string nft_set_declaration(const std::string& set, const char* type)
{
    return "\tset " + set + " {\n\t\ttype " + type + "\n\t\tflags interval\n\t\tauto-merge\n\t}\n";
}

/// Adds the IPv6 list's blocks to the nft set, in commands of bounded size.
void write_nft_ipv6_elements(output_stream& out, ipv6_list& list, const std::string& set)
{
    std::size_t in_command = 0;
    for_each_cidr_block<ipv6_range>(ipv6_list_view(list), [&](ipv6_address address, unsigned length) {
        if (in_command == nft_elements_per_command) {
            out.write("\n}\n");
            in_command = 0;
        }
        out.write(in_command == 0 ? "add element " + set + " {\n\t" : std::string(",\n\t"));
        write_ipv6_block(out, address, length);
        ++in_command;
    });
    if (in_command > 0) out.write("\n}\n");
}

/// A hash size with room for every entry from the start, which spares the kernel its resizing
/// while the set fills; ipset takes at most 2^26.
std::uint64_t ipset_hash_size(std::uint64_t entries)
{
    std::uint64_t hash_size = 1024;
    while (hash_size < entries && hash_size < (std::uint64_t{1} << 26)) hash_size *= 2;
    return hash_size;
}

/// Removes a temporary left by a load that failed half way: its elements would stay.
void write_ipset_clean(output_stream& out, const std::string& set)
{
    out.write("destroy " + set + ipset_temporary_suffix + " -exist\n");
}

/// Stops the restore unless the live set is there with the temporary's type and family (what
/// the swap needs; its hashsize and maxelem may be anything), before anything is filled. Of
/// ipset's commands only a deletion asks this without touching the live set's blocks: create
/// -exist also compares maxelem, test ends a restore either way, and a swap to try would leave
/// the live set empty for an instant. ipset reads the element by the set's type and family and
/// refuses it for another (the unspecified address is null to hash:ip; IPv4 is not IPv6), and
/// -exist lets it pass when absent. The unspecified address names no host, and the swap that
/// follows replaces the set's contents anyway.
void write_ipset_check(output_stream& out, const std::string& set, const char* family, const char* null_block)
{
    out.write("# Stops here, nothing filled, unless " + set + " is a hash:net set of family " + family + "\n");
    out.write("del " + set + " " + null_block + " -exist\n");
}

/// Makes the temporary set with room for entries blocks; its add lines follow.
void write_ipset_create(output_stream& out, const std::string& set, const char* family, std::uint64_t entries)
{
    out.write("create " + set + ipset_temporary_suffix + " hash:net family " + family + " hashsize " +
              std::to_string(ipset_hash_size(entries)) + " maxelem " + ipset_maxelem + "\n");
}

/// Puts the filled temporary in the live set's place in one step and drops the old contents.
void write_ipset_swap(output_stream& out, const std::string& set)
{
    const std::string temporary = set + ipset_temporary_suffix;
    out.write("swap " + temporary + " " + set + "\ndestroy " + temporary + "\n");
}

/// Fills the family inet6 temporary with the IPv6 list's blocks, ::/0 as its two halves (hash:net
/// holds no /0).
void write_ipset_ipv6_entries(output_stream& out, ipv6_list* list, const std::string& set)
{
    std::uint64_t blocks = 0;
    if (list) for_each_cidr_block<ipv6_range>(ipv6_list_view(*list), [&](ipv6_address, unsigned) { ++blocks; });
    write_ipset_create(out, set, "inet6", blocks);
    const std::string add = "add " + set + ipset_temporary_suffix + " ";
    if (list)
        for_each_cidr_block<ipv6_range>(ipv6_list_view(*list), [&](ipv6_address address, unsigned length) {
            if (length == 0) {
                out.write(add + "::/1\n" + add + "8000::/1\n");
                return;
            }
            out.write(add);
            write_ipv6_block(out, address, length);
            out.put('\n');
        });
}

} // namespace

void range_list_write_nft(output_stream& out, range_list& list, ipv6_list* ipv6, const nft_set_name& name)
{
    const std::string set = name.family + " " + name.table + " " + name.set;
    const std::string set6 = name.family + " " + name.table + " " + name.set6;
    out.write("table " + name.family + " " + name.table + " {\n" + nft_set_declaration(name.set, "ipv4_addr"));
    if (!name.set6.empty()) out.write(nft_set_declaration(name.set6, "ipv6_addr"));
    out.write("}\n");
    out.write("flush set " + set + "\n");
    if (!name.set6.empty()) out.write("flush set " + set6 + "\n");
    auto ranges = range_list_view(list);
    for (std::size_t start = 0; start < ranges.size(); start += nft_elements_per_command) {
        std::size_t end = std::min(ranges.size(), start + nft_elements_per_command);
        out.write("add element " + set + " {\n");
        for (std::size_t i = start; i < end; ++i) {
            out.put('\t');
            write_nft_element(out, ranges[i]);
            out.write(i + 1 < end ? ",\n" : "\n");
        }
        out.write("}\n");
    }
    if (!name.set6.empty() && ipv6) write_nft_ipv6_elements(out, *ipv6, set6);
}

void range_list_write_ipset(output_stream& out, range_list& list, ipv6_list* ipv6, const ipset_set_name& name)
{
    auto ranges = range_list_view(list);
    prefix_counts counts = prefix_counts_of(ranges, 1);
    prefix_plan plan = prefix_plan_plain();
    std::uint64_t entries = prefix_plan_entries(counts, plan);
    if (name.reduced) {
        plan = prefix_plan_reduced(counts, entry_budget_limit(name.budget, entries));
        entries = prefix_plan_entries(counts, plan);
    }
    // Both sets are checked before either is touched, so that a wrong one leaves both as they were.
    const bool both = !name.set6.empty();
    write_ipset_clean(out, name.set);
    if (both) write_ipset_clean(out, name.set6);
    write_ipset_check(out, name.set, "inet", "0.0.0.0/32");
    if (both) write_ipset_check(out, name.set6, "inet6", "::/128");
    write_ipset_create(out, name.set, "inet", entries);
    const std::string add = "add " + name.set + ipset_temporary_suffix + " ";
    for_each_planned_block(ranges, plan, 1, [&](std::uint32_t address, unsigned length) {
        out.write(add);
        char* p = out.reserve(address_text_room + 4);
        p = format_address(p, address);
        *p++ = '/';
        p = format_small_number(p, length);
        *p++ = '\n';
        out.commit(p);
    });
    write_ipset_swap(out, name.set);
    if (!both) return;
    write_ipset_ipv6_entries(out, ipv6, name.set6);
    write_ipset_swap(out, name.set6);
}

} // namespace blockset
