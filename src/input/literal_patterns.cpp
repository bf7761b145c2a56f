#include "input/literal_patterns.h"

namespace blockset {

std::size_t match_dotted_quad(const pattern_text& text, std::size_t start)
{
    std::size_t i = start;
    for (int group = 0; group < 4; ++group) {
        std::size_t digits = 0;
        while (digits < 3 && is_digit(text.at(i + digits))) ++digits;
        if (digits == 0) return 0;
        i += digits;
        if (group < 3) {
            if (text.at(i) != '.') return 0;
            ++i;
        }
    }
    return i - start;
}

address_literal_match match_address_literals(const pattern_text& text)
{
    address_literal_match match;
    std::size_t quad = match_dotted_quad(text);
    if (quad == 0) return match;
    match.address = quad;
    int next = text.at(quad);
    if (next == '/') {
        std::size_t digits = 0;
        while (digits < 2 && is_digit(text.at(quad + 1 + digits))) ++digits;
        if (digits > 0) match.cidr = quad + 1 + digits;
    } else if (next == '-') {
        std::size_t second = match_dotted_quad(text, quad + 1);
        if (second > 0) match.range = quad + 1 + second;
    }
    return match;
}

namespace {

unsigned digit_value(const char* at) { return static_cast<unsigned>(static_cast<unsigned char>(*at)) - '0'; }

/// Reads a dotted quad at at, its groups of one to three digits joined by "."; returns its end,
/// or null when there is none. A group above 255 clears in_bounds.
const char* read_dotted_quad(const char* at, std::uint32_t& address, bool& in_bounds)
{
    std::uint32_t result = 0;
    for (int group = 0; group < 4; ++group) {
        unsigned value = digit_value(at);
        if (value > 9) return nullptr;
        ++at;
        // A fourth digit stays out of the group, where it fails the dot or ends the quad.
        for (int more = 0; more < 2 && digit_value(at) <= 9; ++more) value = value * 10 + digit_value(at++);
        if (value > 255) in_bounds = false;
        result = (result << 8) | value;
        if (group < 3) {
            if (*at != '.') return nullptr;
            ++at;
        }
    }
    address = result;
    return at;
}

} // namespace

address_literal_read read_address_literal(const char* text)
{
    address_literal_read read;
    bool in_bounds = true;
    const char* end = read_dotted_quad(text, read.address, in_bounds);
    if (end == nullptr) return read;
    read.form = literal_form::address;
    if (*end == '/' && digit_value(end + 1) <= 9) {
        unsigned prefix_length = digit_value(end + 1);
        end += 2;
        if (digit_value(end) <= 9) prefix_length = prefix_length * 10 + digit_value(end++);
        if (prefix_length > 32) in_bounds = false;
        read.form = literal_form::cidr;
        read.second = prefix_length;
    } else if (*end == '-') {
        bool last_in_bounds = true;
        const char* range_end = read_dotted_quad(end + 1, read.second, last_in_bounds);
        if (range_end != nullptr) {
            read.form = literal_form::range;
            in_bounds = in_bounds && last_in_bounds;
            end = range_end;
        }
    }
    read.length = static_cast<std::size_t>(end - text);
    read.in_bounds = in_bounds;
    return read;
}

std::size_t match_host_name(const pattern_text& text, std::size_t start)
{
    std::size_t i = start;
    if (!is_letter(text.at(i))) return 0;
    for (;;) {
        ++i;
        for (int c = text.at(i); is_letter(c) || is_digit(c) || c == '-'; c = text.at(++i)) {
        }
        // A dot belongs to the name only when another label follows it.
        if (text.at(i) != '.' || !is_letter(text.at(i + 1))) return i - start;
        ++i;
    }
}

} // namespace blockset
