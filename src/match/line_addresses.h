#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "input/dotted_quad.h"
#include "ranges/ipv6_range.h"

namespace blockset {

/// One address written in a line of text.
struct line_address {
    bool is_ipv6 = false;      ///< false: an IPv4 address, also one written ::ffff:a.b.c.d
    std::uint32_t ipv4 = 0;    ///< when !is_ipv6
    ipv6_address ipv6 = 0;     ///< when is_ipv6
    std::size_t offset = 0;    ///< where its text starts in the line
    std::size_t length = 0;    ///< bytes of its text
};

namespace line_address_detail {

/// Byte classes. A run is a stretch of digit, hex_letter, dot and colon bytes: every address
/// lies inside one.
enum : std::uint8_t { other = 0, digit = 1, hex_letter = 2, dot = 4, colon = 8 };
constexpr std::uint8_t in_run = digit | hex_letter | dot | colon;

constexpr std::array<std::uint8_t, 256> classes = [] {
    std::array<std::uint8_t, 256> table{};
    for (int c = '0'; c <= '9'; ++c) table[c] = digit;
    for (int c = 'a'; c <= 'f'; ++c) table[c] = hex_letter;
    for (int c = 'A'; c <= 'F'; ++c) table[c] = hex_letter;
    table['.'] = dot;
    table[':'] = colon;
    return table;
}();

inline std::uint8_t class_of(const char* p) { return classes[static_cast<unsigned char>(*p)]; }

/// The first '.' or ':' at or after p, or end: every address holds one or the other, and
/// most stretches of a log line neither. Eight bytes are tested at a time.
inline const char* next_dot_or_colon(const char* p, const char* end)
{
    constexpr std::uint64_t ones = 0x0101010101010101u;
    constexpr std::uint64_t highs = 0x8080808080808080u;
    // A word has a zero byte exactly when (w - ones) & ~w & highs is not zero.
    auto has_zero_byte = [](std::uint64_t w) { return ((w - ones) & ~w & highs) != 0; };
    for (; end - p >= 8; p += 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        if (has_zero_byte(word ^ (ones * '.')) || has_zero_byte(word ^ (ones * ':'))) break;
    }
    while (p < end && *p != '.' && *p != ':') ++p;
    return p;
}

/// The IPv6 address that starts at p, which is the run's start or follows a dot, and ends
/// before run_end: the longest that reads, into found. Returns its length, or 0 for none.
std::size_t read_ipv6_in_run(const char* p, const char* run_end, line_address& found);

/// True when the run [start, end) may hold an IPv6 address: it holds "::" or seven colons.
bool run_may_hold_ipv6(const char* start, const char* end);

/// The IPv4 address whose dotted quad starts at p inside the run ending at run_end, where p
/// follows no digit and no dot: its length, or 0 when the quad is out of bounds or a digit,
/// or a dot and a digit, follow it.
inline std::size_t read_ipv4_in_run(const char* p, const char* run_end, std::uint32_t& address)
{
    dotted_quad quad = read_dotted_quad({p, static_cast<std::size_t>(run_end - p)});
    if (quad.length == 0 || !quad.in_bounds) return 0;
    const char* after = p + quad.length;
    if (after < run_end) {
        if (*after >= '0' && *after <= '9') return 0;
        if (*after == '.' && after + 1 < run_end && after[1] >= '0' && after[1] <= '9') return 0;
    }
    address = quad.address;
    return quad.length;
}

/// Calls found for each address of the run [start, end), left to right, until it returns
/// true; returns true then.
template <typename on_address>
bool run_addresses(const char* line, const char* start, const char* end, std::uint8_t seen, on_address& found)
{
    const bool ipv6_possible = (seen & colon) != 0 && run_may_hold_ipv6(start, end);
    if (!ipv6_possible && (seen & (digit | dot)) != (digit | dot)) return false;
    line_address address;
    for (const char* p = start; p < end;) {
        std::size_t length = 0;
        if (ipv6_possible && (p == start || p[-1] == '.')) length = read_ipv6_in_run(p, end, address);
        if (length == 0 && *p >= '0' && *p <= '9' && (p == start || (class_of(p - 1) & (digit | dot)) == 0)) {
            length = read_ipv4_in_run(p, end, address.ipv4);
            address.is_ipv6 = false;
        }
        if (length == 0) {
            ++p;
            continue;
        }
        address.offset = static_cast<std::size_t>(p - line);
        address.length = length;
        if (found(address)) return true;
        p += length;
    }
    return false;
}

} // namespace line_address_detail

/// Calls found(const line_address&) for each address the line shows, left to right, until
/// it returns true; returns whether it did.
///
/// An IPv4 address is a dotted quad (four numbers of one to three digits, each up to 255)
/// that follows no digit and no dot, and is followed by neither a digit nor a dot and a
/// digit. An IPv6 address is the longest stretch of hexadecimal digits, colons and dots that
/// reads as an address as IPv6 lists write one, with no hexadecimal digit or colon on either
/// side, and not followed by a dot and a digit either. An IPv6
/// address in ::ffff:0:0/96 is the IPv4 address it carries. Addresses do not overlap: a
/// dotted quad inside an IPv6 address is part of it.
template <typename on_address>
bool line_addresses_each(std::string_view line, on_address found)
{
    using namespace line_address_detail;
    const char* const begin = line.data();
    const char* const end = begin + line.size();
    const char* p = begin;
    for (;;) {
        p = next_dot_or_colon(p, end);
        if (p == end) return false;
        // The run around it; the one before ended at a byte outside any run, at or before p.
        const char* start = p;
        while (start > begin && (class_of(start - 1) & in_run) != 0) --start;
        std::uint8_t seen = 0;
        for (p = start; p < end && (class_of(p) & in_run) != 0; ++p) seen |= class_of(p);
        if (run_addresses(begin, start, p, seen, found)) return true;
    }
}

} // namespace blockset
