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
    bool ended() const { return input_ended_; }
    bool& needs_more() const { return needs_more_; }
    std::size_t size() const { return text_.size(); }

private:
    std::string_view text_;
    bool input_ended_;
    bool& needs_more_;
};

inline bool is_digit(int c) { return c >= '0' && c <= '9'; }
inline bool is_letter(int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

/// Longest matches at the start of the text of the three address literal forms
/// (0 where a form does not match).
struct address_literal_match {
    std::size_t cidr = 0;    ///< dotted quad, "/", one or two digits
    std::size_t range = 0;   ///< dotted quad, "-", dotted quad
    std::size_t address = 0; ///< dotted quad: four groups of one to three digits joined by "."
};

/// Length of the dotted quad starting at index start, or 0.
std::size_t match_dotted_quad(const pattern_text& text, std::size_t start = 0);
address_literal_match match_address_literals(const pattern_text& text);
/// The bytes read_address_literal may look at: a range is at most 31 of them.
constexpr std::size_t literal_window = 32;

enum class literal_form { none, cidr, range, address };

/// An address literal matched and read in one pass.
struct address_literal_read {
    literal_form form = literal_form::none;
    std::size_t length = 0;
    /// Every group below 256 and a prefix length of at most 32: the literal adds something.
    bool in_bounds = false;
    std::uint32_t address = 0; ///< the first dotted quad, when in bounds
    std::uint32_t second = 0;  ///< a range's last address or a block's prefix length
};

/// The match of match_address_literals (the longest of the three forms, none when even the
/// dotted quad fails), with the numbers read as it goes. The text must hold at least
/// literal_window bytes, so that no byte past its end is looked at.
address_literal_read read_address_literal(const char* text);

/// Length of the host name at the start (labels of a letter, then letters, digits and "-",
/// joined by single dots), or 0.
std::size_t match_host_name(const pattern_text& text, std::size_t start = 0);

} // namespace blockset
