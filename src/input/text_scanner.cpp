#include "input/text_scanner.h"

#include <cstddef>
#include <cstring>
#include <string_view>

#include "input/literal_patterns.h"

namespace blockset {

namespace {

/// The text rules at the start of text; for an address literal, literal receives its numbers.
scan_match match_text_rules(std::string_view text, bool input_ended, bool& needs_more, address_literal& literal)
{
    pattern_text pattern(text, input_ended, needs_more);
    int c = static_cast<unsigned char>(text[0]);
    if (is_digit(c)) {
        // A CIDR block or a range always outmatches the address it starts with.
        literal = match_address_literal(text, input_ended, needs_more);
        switch (literal.form) {
        case literal_form::cidr: return {text_rule_cidr, literal.length};
        case literal_form::range: return {text_rule_range, literal.length};
        case literal_form::address: return {text_rule_address, literal.length};
        default: return {no_rule, 0};
        }
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

/// The token of a match, or 0 for one that is skipped (a comment, blanks). literal holds the
/// numbers of an address literal when they were read while matching it, and is null otherwise.
int token_of(scan_match match, std::string_view text, const address_literal* literal, text_token_value& value)
{
    int token;
    switch (match.rule) {
    case text_rule_cidr: token = CIDR; break;
    case text_rule_range: token = RANGE; break;
    case text_rule_address: token = ADDRESS; break;
    case text_rule_host:
        value.text = text.substr(0, match.length);
        value.read = false;
        return HOST;
    case text_rule_crlf:
    case text_rule_line_feed:
    case text_rule_carriage_return:
        // Only a line feed counts a line, and consuming it did so.
        return LINE_END;
    default:
        return 0;
    }
    value.text = text.substr(0, match.length);
    value.read = literal != nullptr;
    if (!value.read) return token;
    value.adds = literal->in_bounds;
    if (!value.adds) return token;
    if (token == CIDR) {
        value.range = {literal->address, block_last_address(literal->address, literal->second)};
    } else {
        value.range = {literal->address, token == RANGE ? literal->second : literal->address};
    }
    return token;
}

} // namespace

scan_match text_scan_rules(std::string_view text, bool input_ended, bool& needs_more)
{
    address_literal literal;
    return match_text_rules(text, input_ended, needs_more, literal);
}

int text_scanner_next_token(scanner& text_scanner, text_token_value& value)
{
    // The usual tokens are decided by the bytes held: they are matched here with the same
    // rules, and a literal keeps the numbers read while matching it. A match that needs more
    // input, and a byte to echo, go the general way.
    for (std::string_view held = text_scanner.held(); !held.empty(); held = text_scanner.held()) {
        bool needs_more = false;
        address_literal literal;
        scan_match match = match_text_rules(held, false, needs_more, literal);
        if (needs_more || match.rule == no_rule) break;
        text_scanner.consume(match.length);
        if (int token = token_of(match, held, &literal, value)) return token;
    }
    scan_match match;
    std::string_view matched;
    while (text_scanner.next_match(match, matched)) {
        if (int token = token_of(match, matched, nullptr, value)) return token;
    }
    return TEXT_END;
}

scanner& text_scanner()
{
    static scanner instance(text_scan_rules);
    return instance;
}

} // namespace blockset
