#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

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

inline bool is_digit(int c) { return c >= '0' && c <= '9'; }
inline bool is_letter(int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

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

/// Reads the longest of the three literal forms at the start of text: a CIDR block (dotted
/// quad, "/", one or two digits), a range (dotted quad, "-", dotted quad) or a single address
/// (dotted quad); form none when the text starts with no dotted quad. Looks at no byte past
/// the end of text.
address_literal read_address_literal(std::string_view text);

/// read_address_literal for a scanner's rules: sets needs_more when more input could
/// lengthen the literal and the input has not ended.
address_literal match_address_literal(std::string_view text, bool input_ended, bool& needs_more);

/// Length of the host name at the start (labels of a letter, then letters, digits and "-",
/// joined by single dots), or 0.
std::size_t match_host_name(const pattern_text& text, std::size_t start = 0);

} // namespace blockset
