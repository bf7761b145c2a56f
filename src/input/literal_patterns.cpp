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
