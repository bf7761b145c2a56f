#include "input/ipv6_literal.h"

#include <array>
#include <cstdint>

#include "input/dotted_quad.h"
#include "input/entry_text.h"

namespace blockset {

namespace {

/// Each byte's value as a hexadecimal digit, or not_hex.
constexpr unsigned not_hex = 16;
constexpr std::array<std::uint8_t, 256> hex_values = [] {
    std::array<std::uint8_t, 256> values{};
    values.fill(not_hex);
    for (int c = '0'; c <= '9'; ++c) values[c] = static_cast<std::uint8_t>(c - '0');
    for (int c = 'a'; c <= 'f'; ++c) values[c] = static_cast<std::uint8_t>(c - 'a' + 10);
    for (int c = 'A'; c <= 'F'; ++c) values[c] = static_cast<std::uint8_t>(c - 'A' + 10);
    return values;
}();

unsigned hex_at(const char* p) { return hex_values[static_cast<unsigned char>(*p)]; }

/// True when the field at p (up to where the entry would end) is written in the bytes of
/// IPv6 text and holds two ':' at least: an IPv6 entry, readable or not. A zone id after "%"
/// may hold any bytes.
bool looks_like_ipv6(const char* p, const char* end)
{
    int colons = 0;
    for (; !ends_entry(p, end) && *p != '%'; ++p) {
        char c = *p;
        if (c == ':') {
            ++colons;
        } else if (hex_at(p) == not_hex && c != '.' && c != '/' && c != '-' && c != '[' && c != ']') {
            return false;
        }
    }
    return colons >= 2;
}

/// One group of an address: one to four hexadecimal digits, or a dotted quad, which counts as
/// two groups and ends the address. end is null where there is neither.
struct address_group {
    const char* end = nullptr;
    std::uint32_t value = 0;
    int width = 1;
    bool last = false;
};

address_group read_group(const char* p, const char* end)
{
    const char* start = p;
    std::uint32_t value = 0;
    for (; p < end && hex_at(p) != not_hex; ++p) {
        if (p - start == 4) return {};
        value = value << 4 | hex_at(p);
    }
    if (p < end && *p == '.') {
        dotted_quad quad = read_dotted_quad({start, static_cast<std::size_t>(end - start)});
        if (quad.length == 0 || !quad.in_bounds) return {};
        return {start + quad.length, quad.address, 2, true};
    }
    if (p == start) return {};
    return {p, value, 1, false};
}

/// The address of count groups, those after the gap (at group gap; -1 for none) filled up to
/// eight with zero groups; false where the groups do not make eight.
bool join_groups(ipv6_address before_gap, ipv6_address after_gap, int count, int gap, ipv6_address& address)
{
    if (gap < 0) {
        address = before_gap;
        return count == 8;
    }
    address = gap == 0 ? after_gap : before_gap << (16 * (8 - gap)) | after_gap;
    return count < 8;
}

/// Reads the address at p: up to eight groups of one to four hexadecimal digits joined by
/// ':', at most one "::" standing for one or more zero groups, and in place of the last two
/// groups a dotted quad. Returns its end, or null when there is none.
const char* read_address(const char* p, const char* end, ipv6_address& address)
{
    // The groups before "::" and those after it, each as one number.
    ipv6_address before_gap = 0, after_gap = 0;
    int count = 0;
    int gap = -1; // where "::" stands, as the number of groups before it
    if (end - p >= 2 && p[0] == ':' && p[1] == ':') {
        gap = 0;
        p += 2;
    }
    // After a leading "::" the address may end at once.
    bool more = gap != 0 || (p < end && hex_at(p) != not_hex);
    while (more) {
        address_group group = read_group(p, end);
        if (group.end == nullptr || count + group.width > 8) return nullptr;
        p = group.end;
        count += group.width;
        ipv6_address& part = gap < 0 ? before_gap : after_gap;
        part = part << (16 * group.width) | group.value;
        if (group.last || p == end || *p != ':') break;
        ++p;
        if (p < end && *p == ':') {
            if (gap >= 0) return nullptr;
            gap = count;
            ++p;
            // "::" may end the address; a third ':' may not follow it.
            more = p < end && hex_at(p) != not_hex;
        }
    }
    return join_groups(before_gap, after_gap, count, gap, address) ? p : nullptr;
}

/// A prefix length of one to three digits at p: its end, or null.
const char* read_prefix_length(const char* p, const char* end, unsigned& value)
{
    const char* start = p;
    value = 0;
    for (; p < end && p - start < 3 && *p >= '0' && *p <= '9'; ++p) value = value * 10 + static_cast<unsigned>(*p - '0');
    return p == start ? nullptr : p;
}

constexpr ipv6_range ipv4_mapped{ipv6_from_halves(0, 0xFFFF'0000'0000), ipv6_from_halves(0, 0xFFFF'FFFF'FFFF)};

constexpr ipv6_entry malformed{ipv6_entry_kind::malformed, {0, 0}, {0, 0}, 0};

/// The entry a range makes that was read from text up to end.
ipv6_entry entry_of(ipv6_range range, std::string_view text, const char* end)
{
    ipv6_entry entry;
    entry.length = static_cast<std::size_t>(end - text.data());
    if (range.first > range.last) {
        // A reversed range denotes no addresses: most likely a mistake in the list.
        entry.kind = ipv6_entry_kind::malformed;
    } else if (range.first >= ipv4_mapped.first && range.last <= ipv4_mapped.last) {
        entry.kind = ipv6_entry_kind::ipv4;
        entry.ipv4_range = {static_cast<std::uint32_t>(range.first), static_cast<std::uint32_t>(range.last)};
    } else {
        entry.kind = ipv6_entry_kind::ipv6;
        entry.range = range;
    }
    return entry;
}

/// Reads the entry at p, an address first; with ranges_only only "a-b" and "a - b" (what
/// follows a P2P name). Its length counts from the start of text.
ipv6_entry read_entry_forms(std::string_view text, const char* p, bool ranges_only)
{
    const char* end = text.data() + text.size();
    ipv6_address first = 0;
    const char* after_first = read_address(p, end, first);
    if (after_first == nullptr) return malformed;
    if (!ranges_only && after_first < end && *after_first == '/' && !starts_comment(after_first, end)) {
        unsigned prefix = 0;
        const char* stop = read_prefix_length(after_first + 1, end, prefix);
        if (stop == nullptr || prefix > 128 || !ends_entry(stop, end)) return malformed;
        ipv6_address start = ipv6_block_first(first, prefix);
        return entry_of({start, block_last_address(start, prefix)}, text, stop);
    }
    const char* next = skip_blanks(after_first, end);
    ipv6_address last = 0;
    if (next < end && *next == '-') {
        const char* stop = read_address(skip_blanks(next + 1, end), end, last);
        if (stop == nullptr || !ends_entry(stop, end)) return malformed;
        return entry_of({first, last}, text, stop);
    }
    if (ranges_only || !ends_entry(after_first, end)) return malformed;
    if (next > after_first && next < end) {
        // Start and end as the first two fields; any other second field is a label.
        const char* stop = read_address(next, end, last);
        if (stop != nullptr && ends_entry(stop, end)) return entry_of({first, last}, text, stop);
    }
    return entry_of({first, first}, text, after_first);
}

} // namespace

ipv6_entry read_ipv6_entry(std::string_view text)
{
    const char* start = text.data();
    const char* end = start + text.size();
    // What reads as an entry looks like IPv6 too; only a failure needs the closer look.
    ipv6_entry entry = read_entry_forms(text, start, false);
    if (entry.kind != ipv6_entry_kind::malformed || looks_like_ipv6(start, end)) return entry;
    // "name:a-b": the name ends at the first ':' that an IPv6-looking range follows.
    for (const char* p = start; p < end && !is_line_end(*p) && !starts_comment(p, end); ++p) {
        if (*p != ':') continue;
        const char* range = skip_blanks(p + 1, end);
        if (looks_like_ipv6(range, end)) return read_entry_forms(text, range, true);
    }
    return {};
}

} // namespace blockset
