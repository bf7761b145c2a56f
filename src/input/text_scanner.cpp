#include "input/text_scanner.h"

#include <cstddef>
#include <cstring>
#include <string_view>

#include "input/literal_patterns.h"

namespace blockset {

scan_match text_scan_rules(std::string_view text, bool input_ended, bool& needs_more)
{
    pattern_text pattern(text, input_ended, needs_more);
    int c = static_cast<unsigned char>(text[0]);
    if (is_digit(c)) {
        // A CIDR block or a range always outmatches the address it starts with.
        return match_address_rules(text, input_ended, needs_more, text_rule_cidr);
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

/// The token of a match, or 0 for one that is skipped (a comment, blanks).
int token_of(scan_match match, std::string_view text, token_value& value)
{
    value.text = text.substr(0, match.length);
    value.read = false;
    switch (match.rule) {
    case text_rule_cidr: return CIDR;
    case text_rule_range: return RANGE;
    case text_rule_address: return ADDRESS;
    case text_rule_host: return HOST;
    case text_rule_crlf:
    case text_rule_line_feed:
    case text_rule_carriage_return:
        // Only a line feed counts a line, and consuming it did so.
        return LINE_END;
    default:
        return 0;
    }
}

/// An address literal that the held bytes decide, with the numbers read while matching it.
int held_literal(scanner& text_scanner, std::string_view held, token_value& value)
{
    address_literal literal = read_address_literal(held);
    if (literal.reached_end || literal.form == literal_form::none) return 0;
    text_scanner.consume(literal.length);
    value.text = std::string_view(held.data(), literal.length);
    value.read = true;
    // A prefix length above 32 has no block; the literal adds nothing then.
    value.adds = literal.in_bounds;
    if (value.adds) value.range = literal_range(literal);
    switch (literal.form) {
    case literal_form::cidr: return CIDR;
    case literal_form::range: return RANGE;
    default: return ADDRESS;
    }
}

} // namespace

int text_scanner_next_token(scanner& text_scanner, token_value& value)
{
    // The usual tokens, straight from the held bytes when these decide them: an address
    // literal, whose numbers are kept from matching it, and a line feed. Both are the rules'
    // own matches, consumed through the same door; all else goes the general way.
    std::string_view held = text_scanner.held();
    if (!held.empty()) {
        if (is_digit(static_cast<unsigned char>(held[0]))) {
            if (int token = held_literal(text_scanner, held, value)) return token;
        } else if (held[0] == '\n') {
            text_scanner.consume(1);
            return LINE_END;
        }
    }
    scan_match match;
    std::string_view matched;
    while (text_scanner.next_match(match, matched)) {
        if (int token = token_of(match, matched, value)) return token;
    }
    return TEXT_END;
}

scanner& text_scanner()
{
    static scanner instance(text_scan_rules);
    return instance;
}

} // namespace blockset
