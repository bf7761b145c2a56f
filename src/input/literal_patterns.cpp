#include "input/literal_patterns.h"

#include "input/dotted_quad.h"

namespace blockset {

address_literal read_address_literal(std::string_view text)
{
    address_literal literal;
    dotted_quad first = read_dotted_quad(text);
    literal.reached_end = first.reached_end;
    if (first.length == 0) return literal;
    literal.form = literal_form::address;
    literal.length = first.length;
    literal.in_bounds = first.in_bounds;
    literal.address = first.address;
    std::string_view rest = text.substr(first.length);
    if (rest.empty()) return literal;
    if (rest[0] == '/') {
        prefix_digits prefix = read_prefix_digits(rest.substr(1));
        literal.reached_end = prefix.reached_end;
        if (prefix.length == 0) return literal;
        literal.form = literal_form::cidr;
        literal.length += 1 + prefix.length;
        literal.in_bounds = first.in_bounds && prefix.value <= 32;
        literal.second = prefix.value;
    } else if (rest[0] == '-') {
        dotted_quad last = read_dotted_quad(rest.substr(1));
        literal.reached_end = last.reached_end;
        if (last.length == 0) return literal;
        literal.form = literal_form::range;
        literal.length += 1 + last.length;
        literal.in_bounds = first.in_bounds && last.in_bounds;
        literal.second = last.address;
    }
    return literal;
}

address_literal match_address_literal(std::string_view text, bool input_ended, bool& needs_more)
{
    address_literal literal = read_address_literal(text);
    if (literal.reached_end && !input_ended) needs_more = true;
    return literal;
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
