#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/vector_quad.h"

namespace blockset {

/// A dotted quad read from the start of a text: four groups of one to three digits joined
/// by single dots. A fourth digit in a group is not part of the quad.
struct dotted_quad {
    std::size_t length = 0;    ///< bytes the quad takes; 0 when the text starts with none
    std::uint32_t address = 0; ///< the address in host byte order, when in_bounds
    bool in_bounds = false;    ///< every group is at most 255
    /// The read looked for a byte past the end of the text: more text could change it.
    bool reached_end = false;
};

namespace dotted_quad_detail {

/// The longest dotted quad is "255.255.255.255" plus the digit or dot that ends a group:
/// with this many bytes held, a read never needs to check the text's end.
inline constexpr std::size_t unchecked_room = 16;

inline unsigned digit_at(const char* at) { return static_cast<unsigned>(static_cast<unsigned char>(*at)) - '0'; }

/// The one loop for both cases: bounded says whether every look must check the end first.
template <bool bounded>
[[gnu::always_inline]] inline dotted_quad read_quad(const char* const start, const char* const end)
{
    dotted_quad quad;
    const char* at = start;
    // Past the end a look yields a non-digit, non-dot byte and notes that more might follow.
    auto look = [&](const char* p) -> unsigned {
        if (bounded && p >= end) {
            quad.reached_end = true;
            return 256;
        }
        return static_cast<unsigned char>(*p);
    };
    std::uint32_t address = 0;
    bool in_bounds = true;
    for (int group = 0; group < 4; ++group) {
        unsigned value = look(at) - '0';
        if (value > 9) return {0, 0, false, quad.reached_end};
        ++at;
        for (int more = 0; more < 2; ++more) {
            unsigned digit = look(at) - '0';
            if (digit > 9) break;
            value = value * 10 + digit;
            ++at;
        }
        if (value > 255) in_bounds = false;
        address = (address << 8) | value;
        if (group < 3) {
            if (look(at) != '.') return {0, 0, false, quad.reached_end};
            ++at;
        }
    }
    // The quad ends here whatever follows; but a reader deciding between longer literals
    // needs to know whether the next byte is held.
    if (bounded && at >= end) quad.reached_end = true;
    quad.length = static_cast<std::size_t>(at - start);
    quad.in_bounds = in_bounds;
    quad.address = in_bounds ? address : 0;
    return quad;
}

} // namespace dotted_quad_detail

/// Reads the dotted quad at the start of text, looking at no byte past its end. Inline: the
/// scanners read one or two for most tokens.
inline dotted_quad read_dotted_quad(std::string_view text)
{
    using namespace dotted_quad_detail;
    const char* start = text.data();
    if (text.size() >= unchecked_room) return read_quad<false>(start, start + text.size());
    return read_quad<true>(start, start + text.size());
}

/// Reads the dotted quad at text from the unchecked_room bytes there, which must all be
/// readable; the same result as read_dotted_quad on any longer text.
inline dotted_quad read_dotted_quad_wide(const char* text)
{
    using namespace dotted_quad_detail;
    return read_quad<false>(text, text + unchecked_room);
}

/// The vector twin of read_dotted_quad_wide: the same result from the same 16 bytes, where
/// vector_quads_available().
BLOCKSET_VECTOR_TARGET inline dotted_quad read_dotted_quad_vector(const char* text)
{
    const vector_quad quad = read_quad_vector(text);
    return {quad.length, quad.address, quad.in_bounds, false};
}


/// A prefix length read from the start of a text: one or two digits.
struct prefix_digits {
    std::size_t length = 0; ///< 0 when the text does not start with a digit
    unsigned value = 0;
    bool reached_end = false; ///< as for dotted_quad
};

/// Reads the one or two digits of a prefix length at the start of text.
inline prefix_digits read_prefix_digits(std::string_view text)
{
    prefix_digits prefix;
    std::size_t i = 0;
    while (i < 2) {
        if (i == text.size()) {
            prefix.reached_end = true;
            break;
        }
        unsigned digit = dotted_quad_detail::digit_at(text.data() + i);
        if (digit > 9) break;
        prefix.value = prefix.value * 10 + digit;
        ++i;
    }
    prefix.length = i;
    if (i == 0) prefix.value = 0;
    return prefix;
}


} // namespace blockset
