#include "input/text_scanner.h"

#include <cstring>

#include "input/literal_patterns.h"

namespace blockset {

scan_match text_scan_rules(std::string_view text, bool input_ended, bool& needs_more)
{
    pattern_text pattern(text, input_ended, needs_more);
    int c = static_cast<unsigned char>(text[0]);
    if (is_digit(c)) {
        // A CIDR block or a range always outmatches the address it starts with.
        address_literal_match match = match_address_literals(pattern);
        if (match.cidr > 0) return {text_rule_cidr, match.cidr};
        if (match.range > 0) return {text_rule_range, match.range};
        if (match.address > 0) return {text_rule_address, match.address};
        return {no_rule, 0};
    }
    if (is_letter(c)) return {text_rule_host, match_host_name(pattern)};
    switch (c) {
    case '\n':
        return {text_rule_line_feed, 1};
    case '\r':
        if (pattern.at(1) == '\n') return {text_rule_crlf, 2};
        return {text_rule_carriage_return, 1};
    case '#': {
        // Runs up to the line feed, which stays for the line-end rule; a carriage return
        // does not end a comment.
        const void* line_feed = std::memchr(text.data(), '\n', text.size());
        if (line_feed != nullptr)
            return {text_rule_comment, static_cast<std::size_t>(static_cast<const char*>(line_feed) - text.data())};
        if (!input_ended) needs_more = true;
        return {text_rule_comment, text.size()};
    }
    case ' ':
    case '\t': {
        std::size_t i = 1;
        for (int next = pattern.at(i); next == ' ' || next == '\t'; next = pattern.at(++i)) {
        }
        return {text_rule_blanks, i};
    }
    default:
        return {no_rule, 0};
    }
}

namespace {

/// The usual tokens straight from the held bytes: a literal or a line end with at least a
/// literal's worth of bytes held, where the rules' longest match is decided without reading
/// more. Returns 0 for anything else, which then goes the general way.
int next_held_token(scanner& text_scanner, text_token_value& value)
{
    std::string_view held = text_scanner.held();
    if (held.size() < literal_window) return 0;
    switch (held[0]) {
    case '\n':
        text_scanner.consume(1);
        ++text_scanner.line_number;
        return LINE_END;
    case '\r':
        if (held[1] == '\n') {
            text_scanner.consume(2);
            ++text_scanner.line_number;
        } else {
            text_scanner.consume(1);
        }
        return LINE_END;
    default:
        break;
    }
    if (!is_digit(static_cast<unsigned char>(held[0]))) return 0;
    address_literal_read literal = read_address_literal(held.data());
    if (literal.form == literal_form::none) return 0;
    value.text = held.substr(0, literal.length);
    text_scanner.consume(literal.length);
    value.read = true;
    value.adds = literal.in_bounds;
    switch (literal.form) {
    case literal_form::cidr:
        // A prefix length above 32 has no block; the literal adds nothing then.
        if (value.adds) value.range = {literal.address, block_last_address(literal.address, literal.second)};
        return CIDR;
    case literal_form::range:
        value.range = {literal.address, literal.second};
        return RANGE;
    default:
        value.range = {literal.address, literal.address};
        return ADDRESS;
    }
}

} // namespace

int text_scanner_next_token(scanner& text_scanner, text_token_value& value)
{
    if (int token = next_held_token(text_scanner, value)) return token;
    value.read = false;
    scan_match match;
    std::string_view matched;
    while (text_scanner.next_match(match, matched)) {
        switch (match.rule) {
        case text_rule_cidr:
            value.text = matched;
            return CIDR;
        case text_rule_range:
            value.text = matched;
            return RANGE;
        case text_rule_address:
            value.text = matched;
            return ADDRESS;
        case text_rule_host:
            value.text = matched;
            return HOST;
        case text_rule_crlf:
        case text_rule_line_feed:
            ++text_scanner.line_number;
            return LINE_END;
        case text_rule_carriage_return:
            // A lone carriage return ends a line without counting one.
            return LINE_END;
        default:
            break; // comment or blanks
        }
    }
    return TEXT_END;
}

scanner& text_scanner()
{
    static scanner instance(text_scan_rules);
    return instance;
}

} // namespace blockset
