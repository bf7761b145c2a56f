#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "input/dotted_quad.h"
#include "parsing/scanner.h"
#include "ranges/cidr.h"
#include "ranges/ip_range.h"

namespace blockset {

/// Reads the byte at index i of a scanner's held text. Past the end it answers "none" (-1)
/// and, while more input may follow, records that the match needs more input to be decided.
class pattern_text {
public:
    pattern_text(std::string_view text, bool input_ended, bool& needs_more)
        : text_(text), input_ended_(input_ended), needs_more_(needs_more)
    {
    }
    int at(std::size_t i) const
    {
        if (i < text_.size()) return static_cast<unsigned char>(text_[i]);
        if (!input_ended_) needs_more_ = true;
        return -1;
    }

private:
    std::string_view text_;
    bool input_ended_;
    bool& needs_more_;
};

constexpr bool is_digit(int c) { return c >= '0' && c <= '9'; }
constexpr bool is_letter(int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

enum class literal_form { none, cidr, range, address };

/// The longest address literal at the start of a text, with its numbers.
struct address_literal {
    literal_form form = literal_form::none;
    std::size_t length = 0;
    /// Every group below 256 and a prefix length of at most 32: the literal adds something.
    bool in_bounds = false;
    std::uint32_t address = 0; ///< the first dotted quad, when in bounds
    std::uint32_t second = 0;  ///< a range's last address or a block's prefix length
    /// The read looked for a byte past the end of the text: more text could lengthen it.
    bool reached_end = false;
};

/// The addresses a literal in bounds denotes: a block's, from its address with the host bits
/// kept, a range as written (reversed, it denotes none), or the one address.
inline ip_range literal_range(const address_literal& literal)
{
    switch (literal.form) {
    case literal_form::cidr: return {literal.address, block_last_address(literal.address, literal.second)};
    case literal_form::range: return {literal.address, literal.second};
    default: return {literal.address, literal.address};
    }
}

/// Reads the longest of the three literal forms at the start of text: a CIDR block (dotted
/// quad, "/", one or two digits), a range (dotted quad, "-", dotted quad) or a single address
/// (dotted quad); form none when the text starts with no dotted quad. Looks at no byte past
/// the end of text. (Inline: the text scanner reads most of its tokens with it.)
inline address_literal read_address_literal(std::string_view text)
{
    address_literal literal;
    dotted_quad first = read_dotted_quad(text);
    literal.reached_end = first.reached_end;
    if (first.length == 0) return literal;
    literal.form = literal_form::address;
    literal.length = first.length;
    literal.in_bounds = first.in_bounds;
    literal.address = first.address;
    // What follows the quad; past its first byte, where a prefix or a second quad begins.
    const char* rest = text.data() + first.length;
    std::size_t rest_size = text.size() - first.length;
    if (rest_size == 0) return literal;
    std::string_view after(rest + 1, rest_size - 1);
    if (rest[0] == '/') {
        prefix_digits prefix = read_prefix_digits(after);
        literal.reached_end = prefix.reached_end;
        if (prefix.length == 0) return literal;
        literal.form = literal_form::cidr;
        literal.length += 1 + prefix.length;
        literal.in_bounds = first.in_bounds && prefix.value <= 32;
        literal.second = prefix.value;
    } else if (rest[0] == '-') {
        dotted_quad last = read_dotted_quad(after);
        literal.reached_end = last.reached_end;
        if (last.length == 0) return literal;
        literal.form = literal_form::range;
        literal.length += 1 + last.length;
        literal.in_bounds = first.in_bounds && last.in_bounds;
        literal.second = last.address;
    }
    return literal;
}

/// The three literal rules of a scanner, which both languages list in this order from
/// cidr_rule on: a CIDR block, a range (cidr_rule + 1), a single address (cidr_rule + 2);
/// no_rule when none matches. Sets needs_more when more input could lengthen the literal
/// and the input has not ended. With read, the literal read while matching is kept there,
/// so that its numbers need not be read again.
scan_match match_address_rules(std::string_view text, bool input_ended, bool& needs_more, int cidr_rule,
                               address_literal* read = nullptr);

/// Length of the host name at the start (labels of a letter, then letters, digits and "-",
/// joined by single dots), or 0.
std::size_t match_host_name(const pattern_text& text, std::size_t start = 0);

} // namespace blockset
