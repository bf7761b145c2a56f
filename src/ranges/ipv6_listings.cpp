#include "ranges/ipv6_listings.h"

#include <algorithm>
#include <cstddef>
#include <span>
#include <string_view>

#include "io/output_stream.h"
#include "ranges/address_format.h"
#include "ranges/cidr_walk.h"
#include "ranges/ipv6_list.h"

namespace blockset {

namespace {

/// Room a CIDR line takes: an address, "/128" and the line end.
constexpr std::size_t most_cidr_line = max_ipv6_text + 5;
/// Room a range line takes: two addresses, "-" and the line end.
constexpr std::size_t most_range_line = 2 * max_ipv6_text + 2;
/// Room an address line takes.
constexpr std::size_t most_address_line = max_ipv6_text + 1;

/// Writes the number in decimal and returns the end.
char* format_decimal(char* out, std::uint64_t value)
{
    char digits[20];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n > 0) *out++ = digits[--n];
    return out;
}

/// Writes a count of addresses in decimal; a count of 0 stands for 2^128, the whole space.
char* format_address_count(char* out, ipv6_address count)
{
    if (count == 0) {
        constexpr std::string_view whole_space = "340282366920938463463374607431768211456";
        return std::copy(whole_space.begin(), whole_space.end(), out);
    }
    // In pieces of 19 digits, the most a 64-bit number always holds; all but the first
    // piece keep their leading zeros.
    constexpr std::uint64_t piece = 10'000'000'000'000'000'000u;
    std::uint64_t pieces[3];
    int n = 0;
    do {
        pieces[n++] = static_cast<std::uint64_t>(count % piece);
        count /= piece;
    } while (count != 0);
    out = format_decimal(out, pieces[--n]);
    while (n > 0) {
        char padded[19];
        char* end = format_decimal(padded, pieces[--n]);
        auto length = static_cast<std::size_t>(end - padded);
        out = std::fill_n(out, 19 - length, '0');
        out = std::copy(padded, end, out);
    }
    return out;
}

} // namespace

char* format_ipv6_address(char* out, ipv6_address address)
{
    unsigned groups[8];
    for (int i = 0; i < 8; ++i) groups[i] = static_cast<unsigned>(address >> (112 - 16 * i)) & 0xFFFFu;
    // The first longest run of two or more zero groups becomes "::".
    int run_start = -1, run_length = 1;
    for (int i = 0; i < 8;) {
        int j = i;
        while (j < 8 && groups[j] == 0) ++j;
        if (j - i > run_length) {
            run_start = i;
            run_length = j - i;
        }
        i = j == i ? i + 1 : j;
    }
    static const char hex[] = "0123456789abcdef";
    for (int i = 0; i < 8; ++i) {
        if (i == run_start) {
            *out++ = ':';
            *out++ = ':';
            i += run_length - 1;
            continue;
        }
        if (i != 0 && i != run_start + run_length) *out++ = ':';
        unsigned group = groups[i];
        int shift = 12;
        while (shift > 0 && (group >> shift) == 0) shift -= 4;
        for (; shift >= 0; shift -= 4) *out++ = hex[(group >> shift) & 0xFu];
    }
    return out;
}

void ipv6_list_write_cidr(output_stream& out, ipv6_list& list)
{
    for_each_cidr_block<ipv6_range>(ipv6_list_view(list), [&out](ipv6_address address, unsigned prefix_length) {
        char* p = out.reserve(most_cidr_line);
        p = format_ipv6_address(p, address);
        *p++ = '/';
        if (prefix_length >= 100) {
            *p++ = '1';
            prefix_length -= 100;
            if (prefix_length < 10) *p++ = '0';
        }
        p = format_small_number(p, prefix_length);
        *p++ = '\n';
        out.commit(p);
    });
}

void ipv6_list_write_ranges(output_stream& out, ipv6_list& list)
{
    for (const ipv6_range& range : ipv6_list_view(list)) {
        char* p = out.reserve(most_range_line);
        p = format_ipv6_address(p, range.first);
        *p++ = '-';
        p = format_ipv6_address(p, range.last);
        *p++ = '\n';
        out.commit(p);
    }
}

bool ipv6_list_addresses_listable(ipv6_list& list)
{
    ipv6_address total = 0;
    for (const ipv6_range& range : ipv6_list_view(list)) {
        // Compared before adding, so that no sum wraps: the range's size less one is exact.
        ipv6_address size_less_one = range.last - range.first;
        if (size_less_one >= most_listed_ipv6_addresses - total) return false;
        total += size_less_one + 1;
    }
    return true;
}

void ipv6_list_write_addresses(output_stream& out, ipv6_list& list)
{
    for (const ipv6_range& range : ipv6_list_view(list)) {
        for (ipv6_address address = range.first;; ++address) {
            char* p = out.reserve(most_address_line);
            p = format_ipv6_address(p, address);
            *p++ = '\n';
            out.commit(p);
            // Stopping at the range's last address means never stepping past the top one.
            if (address == range.last) break;
        }
    }
}

void ipv6_list_write_count(output_stream& out, ipv6_list& list)
{
    auto ranges = ipv6_list_view(list);
    std::uint64_t blocks = 0;
    for_each_cidr_block<ipv6_range>(ranges, [&blocks](ipv6_address, unsigned) { ++blocks; });
    // Disjoint ranges hold at most 2^128 addresses together, and exactly that many only when
    // the list is the whole space: then, and only then, the sum wraps to 0.
    ipv6_address addresses = 0;
    for (const ipv6_range& range : ranges) addresses += range.last - range.first + 1;
    char line[128];
    char* p = format_decimal(line, ranges.size());
    *p++ = ' ';
    p = format_decimal(p, blocks);
    *p++ = ' ';
    p = ranges.empty() ? format_decimal(p, 0) : format_address_count(p, addresses);
    *p++ = '\n';
    out.write({line, static_cast<std::size_t>(p - line)});
}

} // namespace blockset
