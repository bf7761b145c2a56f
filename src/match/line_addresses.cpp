#include "match/line_addresses.h"

#include "input/ipv6_literal.h"

namespace blockset::line_address_detail {

namespace {

/// Longest text of an IPv6 address: "ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255".
constexpr std::size_t longest_ipv6_text = 45;

bool is_decimal(char c) { return c >= '0' && c <= '9'; }

/// The address that the whole of text writes, into found; false when it writes none.
bool read_whole_address(std::string_view text, line_address& found)
{
    ipv6_entry entry = read_ipv6_entry(text);
    if (entry.length != text.size()) return false;
    if (entry.kind == ipv6_entry_kind::ipv6 && entry.range.first == entry.range.last) {
        found.is_ipv6 = true;
        found.ipv6 = entry.range.first;
        return true;
    }
    if (entry.kind == ipv6_entry_kind::ipv4 && entry.ipv4_range.first == entry.ipv4_range.last) {
        found.is_ipv6 = false;
        found.ipv4 = entry.ipv4_range.first;
        return true;
    }
    return false;
}

} // namespace

bool run_may_hold_ipv6(const char* start, const char* end)
{
    int colons = 0;
    for (const char* p = start; p < end; ++p) {
        if (*p != ':') continue;
        if (p + 1 < end && p[1] == ':') return true;
        ++colons;
    }
    return colons >= 7;
}

std::size_t read_ipv6_in_run(const char* p, const char* run_end, line_address& found)
{
    // The address ends at the run's end or before a dot, so that no hexadecimal digit or
    // colon follows it; the longest of those ends that reads wins.
    const char* limit = run_end - p > static_cast<std::ptrdiff_t>(longest_ipv6_text) ? p + longest_ipv6_text + 1 : run_end;
    const char* ends[longest_ipv6_text + 1];
    std::size_t count = 0;
    for (const char* q = p; q < limit; ++q) {
        // As for IPv4, a dot and a digit after it make the text something else.
        if (*q == '.' && !(q + 1 < run_end && is_decimal(q[1]))) ends[count++] = q;
    }
    if (run_end - p <= static_cast<std::ptrdiff_t>(longest_ipv6_text)) ends[count++] = run_end;
    while (count > 0) {
        const char* end = ends[--count];
        if (read_whole_address({p, static_cast<std::size_t>(end - p)}, found)) return static_cast<std::size_t>(end - p);
    }
    return 0;
}

} // namespace blockset::line_address_detail
