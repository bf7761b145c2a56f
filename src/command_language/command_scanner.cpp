#include "command_language/command_scanner.h"

#include <cstddef>
#include <cstring>
#include <iterator>
#include <string_view>

#include "input/literal_patterns.h"
#include "parsing/scanner.h"
#include "ranges/range_list.h"

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

} // namespace

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

namespace {

/// The keyword rule of a word of letters and digits, or 0.
int keyword_rule(const char* word, std::size_t length)
{
    for (std::size_t k = 0; k < std::size(keyword_table); ++k) {
        std::string_view name = keyword_table[k].text;
        if (name.size() == length && std::memcmp(name.data(), word, length) == 0) {
            return rule_keyword_first + static_cast<int>(k);
        }
    }
    return 0;
}

// Bytes by what they may begin, for the matches that the held bytes decide.
enum byte_kind : unsigned char {
    kind_other,
    kind_blank,
    kind_line_end, // a line feed or a carriage return: a match of its own
    kind_letter,
    kind_digit,
    kind_dollar,
    kind_punctuation,
};

struct byte_table {
    byte_kind kind[256];
    command_token punctuation[256];
    constexpr byte_table() : kind{}, punctuation{}
    {
        for (int c = 0; c < 256; ++c) {
            bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
            kind[c] = letter ? kind_letter : c >= '0' && c <= '9' ? kind_digit : kind_other;
            punctuation[c] = END_OF_INPUT;
        }
        kind[int{' '}] = kind[int{'\t'}] = kind_blank;
        kind[int{'\n'}] = kind[int{'\r'}] = kind_line_end;
        kind[int{'$'}] = kind_dollar;
        const struct {
            char byte;
            command_token token;
        } marks[] = {{'{', LBRACE}, {'}', RBRACE}, {'(', LPAREN}, {')', RPAREN},
                     {'=', EQUALS}, {';', SEMICOLON}, {',', COMMA}};
        for (const auto& mark : marks) {
            kind[static_cast<unsigned char>(mark.byte)] = kind_punctuation;
            punctuation[static_cast<unsigned char>(mark.byte)] = mark.token;
        }
    }
};
constexpr byte_table bytes{};

byte_kind kind_of(char c) { return bytes.kind[static_cast<unsigned char>(c)]; }

bool is_label_byte(unsigned char c) { return is_word_byte(c) || c == '-'; }

/// A keyword or a host name that ends before the held bytes do; no_rule when it may not.
scan_match held_word(const char* p, std::size_t n)
{
    // The host name, label by label; each look stays inside the held bytes.
    std::size_t host = 0;
    for (;;) {
        ++host;
        while (host < n && is_label_byte(static_cast<unsigned char>(p[host]))) ++host;
        if (host >= n) return {no_rule, 0};
        if (p[host] != '.') break;
        // A dot belongs to the name only when another label follows it.
        if (host + 1 >= n) return {no_rule, 0};
        if (!is_letter(static_cast<unsigned char>(p[host + 1]))) break;
        ++host;
    }
    std::size_t word = 1;
    while (is_word_byte(static_cast<unsigned char>(p[word]))) ++word;
    if (word + 1 >= host) {
        if (int rule = keyword_rule(p, word)) return {rule, word};
    }
    return {rule_host_name, host};
}

/// A variable that ends before the held bytes do (p[0] is "$"); no_rule when it may not.
scan_match held_variable(const char* p, std::size_t n)
{
    if (n < 2 || !is_letter(static_cast<unsigned char>(p[1]))) return {no_rule, 0};
    std::size_t i = 2;
    while (i < n && (is_word_byte(static_cast<unsigned char>(p[i])) || p[i] == '_')) ++i;
    if (i >= n || i < 3) return {no_rule, 0};
    return {rule_variable, i};
}

/// The rule of an address literal read from the held bytes, when these decide it.
scan_match held_literal_match(const address_literal& literal)
{
    if (literal.reached_end) return {no_rule, 0};
    switch (literal.form) {
    case literal_form::cidr: return {rule_cidr, literal.length};
    case literal_form::range: return {rule_range, literal.length};
    case literal_form::address: return {rule_address, literal.length};
    default: return {no_rule, 0};
    }
}

/// Keeps what a literal read while matching it adds.
void keep_numbers(const address_literal& literal, token_value& value)
{
    value.read = true;
    value.adds = literal.in_bounds;
    // A prefix length above 32 has no block: the literal adds nothing then.
    if (!value.adds) return;
    switch (literal.form) {
    case literal_form::cidr:
        value.range = {literal.address, block_last_address(literal.address, literal.second)};
        break;
    case literal_form::range: value.range = {literal.address, literal.second}; break;
    default: value.range = {literal.address, literal.address}; break;
    }
}

#ifdef BLOCKSET_VECTOR_QUAD
[[gnu::target("sse4.1")]] dotted_quad read_quad_vector(const char* text) { return read_dotted_quad_sse41(text); }
#endif

/// The address literal at p, of the n held bytes, as read_address_literal reads it. A single
/// address with room to spare is read by the vector quad reader where the processor has one:
/// its digit counts then cost no branches.
address_literal held_address_literal(const char* p, std::size_t n)
{
#ifdef BLOCKSET_VECTOR_QUAD
    // The longest literal, a range of two 15-byte quads, and the byte after it are held.
    if (n >= 32 && sse41_available()) {
        dotted_quad quad = read_quad_vector(p);
        if (quad.length > 0 && p[quad.length] != '/' && p[quad.length] != '-') {
            address_literal literal;
            literal.form = literal_form::address;
            literal.length = quad.length;
            literal.in_bounds = quad.in_bounds;
            literal.address = quad.address;
            return literal;
        }
    }
#endif
    return read_address_literal({p, n});
}

/// The next token when the held bytes decide it and the blanks and line ends before it,
/// which are consumed and their line feeds counted; END_OF_INPUT when they do not decide it,
/// and then only the blanks and line ends that they decide have been consumed.
command_token held_token(scanner& language_scanner, token_value& value)
{
    std::string_view held = language_scanner.held();
    const char* p = held.data();
    std::size_t n = held.size();
    // Blanks, line feeds and carriage returns: each run of blanks is one match, which the
    // first other byte ends, and each line end one more.
    std::size_t skipped = 0;
    int line_feeds = 0;
    for (; skipped < n && (kind_of(p[skipped]) == kind_blank || kind_of(p[skipped]) == kind_line_end); ++skipped) {
        line_feeds += p[skipped] == '\n';
    }
    if (skipped == n) return END_OF_INPUT;
    if (skipped > 0) {
        language_scanner.consume_lines(skipped, line_feeds);
        p += skipped;
        n -= skipped;
    }
    scan_match match;
    switch (kind_of(p[0])) {
    case kind_punctuation:
        language_scanner.consume(1);
        return bytes.punctuation[static_cast<unsigned char>(p[0])];
    case kind_dollar:
        match = held_variable(p, n);
        if (match.rule == no_rule) return END_OF_INPUT;
        language_scanner.consume(match.length);
        value.text = {p, match.length};
        return VARIABLE;
    case kind_letter:
        match = held_word(p, n);
        if (match.rule == no_rule) return END_OF_INPUT;
        language_scanner.consume(match.length);
        if (match.rule != rule_host_name) return keyword_table[match.rule - rule_keyword_first].token;
        value.text = {p, match.length};
        return HOST_NAME;
    case kind_digit: {
        address_literal literal = held_address_literal(p, n);
        match = held_literal_match(literal);
        if (match.rule == no_rule) return END_OF_INPUT;
        language_scanner.consume(match.length);
        keep_numbers(literal, value);
        value.text = {p, match.length};
        return match.rule == rule_cidr ? CIDR_LITERAL : match.rule == rule_range ? RANGE_LITERAL : ADDRESS_LITERAL;
    }
    default:
        return END_OF_INPUT;
    }
}

} // namespace

scan_match command_scan_held(std::string_view held)
{
    const char* p = held.data();
    std::size_t n = held.size();
    if (n == 0) return {no_rule, 0};
    switch (kind_of(p[0])) {
    case kind_letter: return held_word(p, n);
    case kind_digit: return held_literal_match(held_address_literal(p, n));
    case kind_dollar: return held_variable(p, n);
    case kind_punctuation: return {rule_punctuation, 1};
    case kind_line_end: return {p[0] == '\n' ? rule_newline : rule_carriage_return, 1};
    case kind_blank: {
        std::size_t i = 1;
        while (i < n && kind_of(p[i]) == kind_blank) ++i;
        if (i >= n) return {no_rule, 0};
        return {rule_blanks, i};
    }
    default: return {no_rule, 0};
    }
}

namespace {

command_token punctuation_token(char c) { return bytes.punctuation[static_cast<unsigned char>(c)]; }

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
        // Most tokens are decided by the bytes already held and consumed here, an address
        // literal with the numbers read while matching it; the rest go through the scanner's
        // loop, which reads more input or echoes a byte that no rule takes.
        if (command_token token = held_token(language_scanner, value)) return token;
        scan_match match;
        std::string_view text;
        if (!language_scanner.next_match(match, text)) break;
        switch (match.rule) {
        case rule_cidr: value.text = text; return CIDR_LITERAL;
        case rule_range: value.text = text; return RANGE_LITERAL;
        case rule_address: value.text = text; return ADDRESS_LITERAL;
        case rule_host_name: value.text = text; return HOST_NAME;
        case rule_variable: value.text = text; return VARIABLE;
        case rule_string: value.text = text.substr(1, text.size() - 2); return STRING;
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
