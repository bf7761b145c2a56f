#include "command_language/command_scanner.h"

#include <cstddef>
#include <iterator>
#include <string_view>

#include "input/literal_patterns.h"
#include "parsing/scanner.h"
#include "ranges/range_list.h"

namespace blockset {

namespace {

// Rule numbers: lower numbers win ties between matches of the same length.
enum command_rule : int {
    rule_keyword_first = 1, // rules 1 to 13: the keywords, in keywords order
    rule_cidr = 14, // then range and address, together in this order (match_address_rules)
    rule_range,
    rule_address,
    rule_host_name,
    rule_variable,
    rule_string,
    rule_punctuation_first, // rules 20 to 26: the punctuation bytes, in punctuation order
    rule_newline = 27,
    rule_carriage_return,
    rule_slash_comment,
    rule_hash_comment,
    rule_blanks,
};

// In rule order, which is also the order of their tokens from KW_LOAD on.
constexpr std::string_view keywords[] = {"load", "save", "union", "difference", "intersect", "invert", "stdin",
                                         "stdout", "text", "cidr", "single", "range", "p2b"};
// In rule order, which is also the order of their tokens from LBRACE on.
constexpr std::string_view punctuation = "{}()=;,";

bool is_word_byte(int c) { return is_letter(c) || is_digit(c); }

/// A keyword rule matches the keyword plus one right-context byte that is neither a letter
/// nor a digit; that byte counts for the longest match but is given back.
scan_match match_word(std::string_view held, const pattern_text& text)
{
    std::size_t host = match_host_name(text);
    std::size_t word = 0;
    while (is_word_byte(text.at(word))) ++word;
    if (text.at(word) >= 0 && word + 1 >= host) {
        for (std::size_t k = 0; k < std::size(keywords); ++k) {
            std::string_view name = keywords[k];
            if (name.size() == word && name[0] == held[0] && held.substr(0, word) == name) {
                return {rule_keyword_first + static_cast<int>(k), word};
            }
        }
    }
    return {rule_host_name, host};
}

/// A comment runs to and includes its newline; without one it is no comment.
scan_match match_comment(const pattern_text& text, std::size_t start, int rule)
{
    for (std::size_t i = start;; ++i) {
        int c = text.at(i);
        if (c == '\n') return {rule, i + 1};
        if (c < 0) return {no_rule, 0};
    }
}

/// "$", a letter, then one or more letters, digits or "_".
scan_match match_variable(const pattern_text& text)
{
    if (!is_letter(text.at(1))) return {no_rule, 0};
    std::size_t i = 2;
    for (int c = text.at(i); is_word_byte(c) || c == '_'; c = text.at(++i)) {
    }
    return i >= 3 ? scan_match{rule_variable, i} : scan_match{no_rule, 0};
}

/// A double quote, bytes other than a double quote or a newline, a double quote.
scan_match match_string(const pattern_text& text)
{
    for (std::size_t i = 1;; ++i) {
        int c = text.at(i);
        if (c == '"') return {rule_string, i + 1};
        if (c == '\n' || c < 0) return {no_rule, 0};
    }
}

/// Keeps what a literal read while matching it adds.
void keep_numbers(const address_literal& literal, token_value& value)
{
    value.read = true;
    value.adds = literal.in_bounds;
    // A prefix length above 32 has no block: the literal adds nothing then.
    if (value.adds) value.range = literal_range(literal);
}

/// The longest match of the command rules at the start of held, the first rule winning ties.
scan_match command_scan_rules(std::string_view held, bool input_ended, bool& needs_more)
{
    pattern_text text(held, input_ended, needs_more);
    int c = text.at(0);
    if (is_letter(c)) return match_word(held, text);
    if (is_digit(c)) return match_address_rules(held, input_ended, needs_more, rule_cidr);
    switch (c) {
    case '$':
        return match_variable(text);
    case '"':
        return match_string(text);
    case '\n':
        return {rule_newline, 1};
    case '\r':
        return {rule_carriage_return, 1};
    case '/':
        return text.at(1) == '/' ? match_comment(text, 2, rule_slash_comment) : scan_match{no_rule, 0};
    case '#':
        return match_comment(text, 1, rule_hash_comment);
    case ' ':
    case '\t': {
        std::size_t i = 1;
        for (int d = text.at(i); d == ' ' || d == '\t'; d = text.at(++i)) {
        }
        return {rule_blanks, i};
    }
    default:
        for (std::size_t k = 0; k < punctuation.size(); ++k) {
            if (punctuation[k] == c) return {rule_punctuation_first + static_cast<int>(k), 1};
        }
        return {no_rule, 0};
    }
}

/// The token of a match, with its value; END_OF_INPUT for a match that is skipped (blanks,
/// line ends, comments), whose line feeds consuming it counted.
command_token token_of(scan_match match, std::string_view text, token_value& value)
{
    value.text = text;
    switch (match.rule) {
    case rule_cidr:
    case rule_range:
    case rule_address:
        keep_numbers(read_address_literal(text), value);
        return static_cast<command_token>(CIDR_LITERAL + (match.rule - rule_cidr));
    case rule_host_name: return HOST_NAME;
    case rule_variable: return VARIABLE;
    case rule_string: value.text = text.substr(1, text.size() - 2); return STRING;
    case rule_newline:
    case rule_carriage_return:
    case rule_slash_comment:
    case rule_hash_comment:
    case rule_blanks: return END_OF_INPUT;
    default:
        if (match.rule >= rule_punctuation_first) {
            return static_cast<command_token>(LBRACE + (match.rule - rule_punctuation_first));
        }
        return static_cast<command_token>(KW_LOAD + (match.rule - rule_keyword_first));
    }
}

} // namespace

scanner& command_scanner()
{
    static scanner instance(command_scan_rules);
    return instance;
}

command_token command_scanner_next_token(scanner& language_scanner, token_value& value)
{
    value.read = false;
    for (;;) {
        // Most matches are decided by the bytes already held, whatever may follow them: the
        // rules match those there; the rest go through the scanner's loop, which reads more
        // input and echoes bytes that no rule takes.
        std::string_view held = language_scanner.held();
        bool needs_more = false;
        scan_match match{no_rule, 0};
        if (!held.empty()) match = command_scan_rules(held, false, needs_more);
        std::string_view text;
        if (match.rule != no_rule && !needs_more) {
            text = held.substr(0, match.length);
            language_scanner.consume(match.length);
        } else if (!language_scanner.next_match(match, text)) {
            return END_OF_INPUT;
        }
        if (command_token token = token_of(match, text, value)) return token;
    }
}

} // namespace blockset
