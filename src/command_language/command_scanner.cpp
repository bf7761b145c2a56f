#include "command_language/command_scanner.h"

#include <cstddef>
#include <iterator>
#include <string_view>

#include "input/literal_patterns.h"
#include "parsing/scanner.h"

namespace blockset {

namespace {

// Rule numbers: lower numbers win ties between matches of the same length.
enum command_rule : int {
    rule_keyword_first = 1, // rules 1 to 13: the keywords, in keyword_table order
    rule_cidr = 14, // then range and address, together in this order (match_address_rules)
    rule_range,
    rule_address,
    rule_host_name,
    rule_variable,
    rule_string,
    rule_punctuation, // rules 20 to 26; the byte itself tells which
    rule_newline = 27,
    rule_carriage_return,
    rule_slash_comment,
    rule_hash_comment,
    rule_blanks,
};

struct keyword {
    std::string_view text;
    command_token token;
};

// In rule order.
constexpr keyword keyword_table[] = {
    {"load", KW_LOAD},     {"save", KW_SAVE},       {"union", KW_UNION}, {"difference", KW_DIFFERENCE},
    {"intersect", KW_INTERSECT}, {"invert", KW_INVERT}, {"stdin", KW_STDIN}, {"stdout", KW_STDOUT},
    {"text", KW_TEXT},     {"cidr", KW_CIDR},       {"single", KW_SINGLE}, {"range", KW_RANGE},
    {"p2b", KW_P2B},
};

bool is_word_byte(int c) { return is_letter(c) || is_digit(c); }

/// A keyword rule matches the keyword plus one right-context byte that is neither a letter
/// nor a digit; that byte counts for the longest match but is given back.
scan_match match_word(std::string_view held, const pattern_text& text)
{
    std::size_t host = match_host_name(text);
    std::size_t word = 0;
    while (is_word_byte(text.at(word))) ++word;
    if (text.at(word) >= 0) {
        for (std::size_t k = 0; k < std::size(keyword_table); ++k) {
            std::string_view name = keyword_table[k].text;
            if (name.size() == word && held.substr(0, word) == name && word + 1 >= host) {
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

scan_match command_rules(std::string_view held, bool input_ended, bool& needs_more)
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
    case '{':
    case '}':
    case '(':
    case ')':
    case '=':
    case ';':
    case ',':
        return {rule_punctuation, 1};
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
        return {no_rule, 0};
    }
}

command_token punctuation_token(char c)
{
    switch (c) {
    case '{': return LBRACE;
    case '}': return RBRACE;
    case '(': return LPAREN;
    case ')': return RPAREN;
    case '=': return EQUALS;
    case ';': return SEMICOLON;
    default: return COMMA;
    }
}

} // namespace

scanner& command_scanner()
{
    static scanner instance(command_rules);
    return instance;
}

command_token command_scanner_next_token(scanner& language_scanner, std::string_view& value)
{
    scan_match match;
    std::string_view text;
    while (language_scanner.next_match(match, text)) {
        switch (match.rule) {
        case rule_cidr: value = text; return CIDR_LITERAL;
        case rule_range: value = text; return RANGE_LITERAL;
        case rule_address: value = text; return ADDRESS_LITERAL;
        case rule_host_name: value = text; return HOST_NAME;
        case rule_variable: value = text; return VARIABLE;
        case rule_string: value = text.substr(1, text.size() - 2); return STRING;
        case rule_punctuation: return punctuation_token(text[0]);
        case rule_newline:
        case rule_slash_comment:
        case rule_hash_comment:
        case rule_carriage_return:
        case rule_blanks:
            // Skipped; a newline, alone or ending a comment, was counted as it was consumed.
            break;
        default:
            return keyword_table[match.rule - rule_keyword_first].token;
        }
    }
    return END_OF_INPUT;
}

} // namespace blockset
