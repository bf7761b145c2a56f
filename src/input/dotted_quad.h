#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

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

/// Reads the dotted quad at the start of text, looking at no byte past its end.
dotted_quad read_dotted_quad(std::string_view text);

/// A prefix length read from the start of a text: one or two digits.
struct prefix_digits {
    std::size_t length = 0; ///< 0 when the text does not start with a digit
    unsigned value = 0;
    bool reached_end = false; ///< as for dotted_quad
};

/// Reads the one or two digits of a prefix length at the start of text.
prefix_digits read_prefix_digits(std::string_view text);

} // namespace blockset
