#include "input/literal_patterns.h"

namespace blockset {

scan_match match_address_rules(std::string_view text, bool input_ended, bool& needs_more, int cidr_rule,
                               address_literal* read)
{
    address_literal literal = read_address_literal(text);
    if (literal.reached_end && !input_ended) needs_more = true;
    if (read != nullptr) *read = literal;
    switch (literal.form) {
    case literal_form::cidr: return {cidr_rule, literal.length};
    case literal_form::range: return {cidr_rule + 1, literal.length};
    case literal_form::address: return {cidr_rule + 2, literal.length};
    default: return {no_rule, 0};
    }
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
