#include "command_language/command_scanner.h"

#include <cstddef>
#include <iterator>
#include <string_view>

#include "input/literal_patterns.h"
#include "parsing/scanner.h"
#include "ranges/range_list.h"

namespace blockset {

namespace {

// Rule numbers: lower numbers win ties between matches of the same length. A rule that makes
// a token has that token's number (the tokens are listed in rule order); the rules whose
// matches are skipped come after them.
enum command_rule : int {
    rule_keyword_first = KW_LOAD, // the keywords, in keywords order
    rule_cidr = CIDR_LITERAL, // then range and address, together in this order (match_address_rules)
    rule_host_name = HOST_NAME,
    rule_variable = VARIABLE,
    rule_string = STRING,
    rule_punctuation_first = LBRACE, // the punctuation bytes, in punctuation order
    rule_newline = COMMA + 1,
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

/// What a token's first byte makes of it. A punctuation byte is its own rule.
enum byte_kind : unsigned char { other_byte, letter_byte, digit_byte, blank_byte, punctuation_byte };

struct byte_table {
    byte_kind kind[256];
    unsigned char punctuation_index[256];
};

constexpr byte_table make_byte_table()
{
    byte_table table{};
    for (int c = 0; c < 256; ++c) {
        table.kind[c] = is_letter(c) ? letter_byte : is_digit(c) ? digit_byte : other_byte;
    }
    table.kind[static_cast<unsigned char>(' ')] = blank_byte;
    table.kind[static_cast<unsigned char>('\t')] = blank_byte;
    table.kind[static_cast<unsigned char>('\n')] = blank_byte;
    table.kind[static_cast<unsigned char>('\r')] = blank_byte;
    for (std::size_t k = 0; k < punctuation.size(); ++k) {
        auto c = static_cast<unsigned char>(punctuation[k]);
        table.kind[c] = punctuation_byte;
        table.punctuation_index[c] = static_cast<unsigned char>(k);
    }
    return table;
}

constexpr byte_table bytes = make_byte_table();

bool is_word_byte(int c) { return is_letter(c) || is_digit(c); }

/// A keyword rule matches the keyword plus one right-context byte that is neither a letter
/// nor a digit; that byte counts for the longest match but is given back.
scan_match match_word(std::string_view held, const pattern_text& text)
{
    std::size_t word = 0;
    while (is_word_byte(text.at(word))) ++word;
    // A word followed by neither "-" nor "." is a host name of its own length.
    const int after = text.at(word);
    std::size_t host = after == '-' || after == '.' ? match_host_name(text) : word;
    if (after >= 0 && word + 1 >= host) {
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

/// Keeps what an address literal adds.
void keep_numbers(const address_literal& literal, token_value& value)
{
    value.read = true;
    // A prefix length above 32 has no block: the literal adds nothing then.
    value.adds = literal.in_bounds;
    if (value.adds) value.range = literal_range(literal);
}

/// The longest match of the command rules at the start of held (which holds a byte), the
/// first rule winning ties. With value, an address literal's numbers, read while matching
/// it, are kept there.
[[gnu::always_inline]] inline scan_match command_match(std::string_view held, bool input_ended, bool& needs_more,
                                                       token_value* value)
{
    pattern_text text(held, input_ended, needs_more);
    auto c = static_cast<unsigned char>(held[0]);
    switch (bytes.kind[c]) {
    case punctuation_byte: return {rule_punctuation_first + bytes.punctuation_index[c], 1};
    case letter_byte: return match_word(held, text);
    case digit_byte: {
        address_literal literal;
        scan_match match = match_address_rules(held, input_ended, needs_more, rule_cidr, &literal);
        if (value != nullptr && match.rule != no_rule) keep_numbers(literal, *value);
        return match;
    }
    default: break;
    }
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
        return {no_rule, 0};
    }
}

scan_match command_scan_rules(std::string_view held, bool input_ended, bool& needs_more)
{
    return command_match(held, input_ended, needs_more, nullptr);
}

/// The token of a match, with its value; END_OF_INPUT for a match that is skipped (blanks,
/// line ends, comments), whose line feeds consuming it counted. An address literal's
/// numbers are read from its text unless matching kept them.
command_token token_of(scan_match match, std::string_view text, token_value& value)
{
    if (match.rule > COMMA) return END_OF_INPUT;
    value.text = text;
    if (match.rule >= CIDR_LITERAL && match.rule <= ADDRESS_LITERAL) {
        if (!value.read) keep_numbers(read_address_literal(text), value);
    } else if (match.rule == STRING) {
        value.text = text.substr(1, text.size() - 2);
    }
    return static_cast<command_token>(match.rule);
}

/// A match through the scanner's loop, with no numbers kept. Out of line: it is seldom taken.
[[gnu::noinline]] bool next_match(scanner& language_scanner, scan_match& match, std::string_view& text,
                                  token_value& value)
{
    value.read = false;
    return language_scanner.next_match(match, text);
}

} // namespace

scanner& command_scanner()
{
    static scanner instance(command_scan_rules);
    return instance;
}

command_token command_scanner_next_token(scanner& language_scanner, token_value& value)
{
    for (;;) {
        // Most matches are decided by the bytes already held, whatever may follow them: the
        // rules match those there; the rest go through the scanner's loop, which reads more
        // input and echoes bytes that no rule takes.
        value.read = false;
        std::string_view held = language_scanner.held();
        // Blanks and line ends are skipped a run at a time; the rules take the run's last byte
        // (a blank may need the next byte to end its run).
        std::size_t blank = 0;
        while (blank + 1 < held.size() && bytes.kind[static_cast<unsigned char>(held[blank])] == blank_byte) ++blank;
        language_scanner.consume(blank);
        held.remove_prefix(blank);
        bool needs_more = false;
        scan_match match{no_rule, 0};
        if (!held.empty()) match = command_match(held, false, needs_more, &value);
        std::string_view text;
        if (match.rule != no_rule && !needs_more) {
            text = held.substr(0, match.length);
            language_scanner.consume(match.length);
        } else if (!next_match(language_scanner, match, text, value)) {
            return END_OF_INPUT;
        }
        if (command_token token = token_of(match, text, value)) return token;
    }
}

} // namespace blockset
