#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#endif

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
/// readable; the same result as read_dotted_quad on any longer text. The scalar twin of the
/// vector reader below.
inline dotted_quad read_dotted_quad_wide(const char* text)
{
    using namespace dotted_quad_detail;
    return read_quad<false>(text, text + unchecked_room);
}

#if defined(__x86_64__) || defined(__i386__)
#define BLOCKSET_VECTOR_QUAD 1

namespace dotted_quad_detail {

/// Byte shuffles that gather the digits of a quad with groups of lengths a, b, c, d (1 to 3
/// each) into four 32-bit lanes, hundreds, tens and units in the top three bytes of each
/// and zero where a group is shorter; indexed (a-1)*27 + (b-1)*9 + (c-1)*3 + (d-1).
struct quad_shuffles {
    unsigned char masks[81][16];
    constexpr quad_shuffles() : masks{}
    {
        for (int index = 0; index < 81; ++index) {
            int start = 0;
            for (int group = 0, lengths = index; group < 4; ++group) {
                int length = lengths / (group == 0 ? 27 : group == 1 ? 9 : group == 2 ? 3 : 1) % 3 + 1;
                for (int place = 0; place < 4; ++place) {
                    // place 1, 2, 3: hundreds, tens, units; place 0 stays zero.
                    int digit = start + length - 4 + place;
                    masks[index][group * 4 + place] =
                        place > 0 && digit >= start ? static_cast<unsigned char>(digit) : 0x80;
                }
                start += length + 1;
            }
        }
    }
};
inline constexpr quad_shuffles quad_shuffle_table{};

} // namespace dotted_quad_detail

/// The vector twin of read_dotted_quad_wide: the same result from the same 16 bytes, without
/// a branch on the digit counts. Only where the processor has SSE4.1 (sse41_available).
[[gnu::target("sse4.1")]] inline dotted_quad read_dotted_quad_sse41(const char* text)
{
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
    const __m128i digits = _mm_sub_epi8(bytes, _mm_set1_epi8('0'));
    const __m128i is_digit = _mm_cmpeq_epi8(_mm_min_epu8(digits, _mm_set1_epi8(9)), digits);
    // Bits above the 16 bytes count as non-digits: the last group ends by the 16th byte.
    const unsigned non_digits = ~static_cast<unsigned>(_mm_movemask_epi8(is_digit));
    const unsigned dots = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('.'))));
    // The first three non-digits must be dots, after groups of one to three digits, and one
    // more digit at least must follow; of the last group, three digits at most count.
    const unsigned first_end = static_cast<unsigned>(__builtin_ctz(non_digits));
    const unsigned rest1 = non_digits & (non_digits - 1);
    const unsigned second_end = static_cast<unsigned>(__builtin_ctz(rest1));
    const unsigned rest2 = rest1 & (rest1 - 1);
    const unsigned third_end = static_cast<unsigned>(__builtin_ctz(rest2));
    const unsigned fourth_end = static_cast<unsigned>(__builtin_ctz(rest2 & (rest2 - 1)));
    const unsigned a = first_end, b = second_end - first_end - 1, c = third_end - second_end - 1;
    unsigned d = fourth_end - third_end - 1;
    if (d > 3) d = 3;
    // Unsigned: a length of 0 wraps round and fails the bound of 3 too. The first byte that is
    // neither a digit nor a dot must lie past the third dot.
    const unsigned others = non_digits & ~dots;
    const bool formed = a - 1 < 3 && b - 1 < 3 && c - 1 < 3 && d >= 1
                        && static_cast<unsigned>(__builtin_ctz(others)) > third_end;
    if (!formed) return {};
    const unsigned index = (a - 1) * 27 + (b - 1) * 9 + (c - 1) * 3 + (d - 1);
    const __m128i shuffle =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(dotted_quad_detail::quad_shuffle_table.masks[index]));
    const __m128i placed = _mm_shuffle_epi8(digits, shuffle);
    const __m128i pairs = _mm_maddubs_epi16(placed, _mm_setr_epi8(0, 100, 10, 1, 0, 100, 10, 1, 0, 100, 10, 1, 0, 100, 10, 1));
    const __m128i groups = _mm_madd_epi16(pairs, _mm_set1_epi16(1));
    dotted_quad quad;
    quad.length = third_end + 1 + d;
    quad.in_bounds = _mm_movemask_epi8(_mm_cmpgt_epi32(groups, _mm_set1_epi32(255))) == 0;
    // Little-endian: the last group's low byte first.
    const __m128i packed = _mm_shuffle_epi8(groups, _mm_setr_epi8(12, 8, 4, 0, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1));
    quad.address = static_cast<std::uint32_t>(_mm_cvtsi128_si32(packed)) & (0u - quad.in_bounds);
    return quad;
}

/// Whether this processor runs read_dotted_quad_sse41. One processor query in a run, made
/// when first asked (a query can cost a virtual machine microseconds; a run that reads no list
/// makes none).
inline bool sse41_available()
{
    static const bool available = [] {
        unsigned a = 0, b = 0, c = 0, d = 0;
        return __get_cpuid(1, &a, &b, &c, &d) != 0 && (c & bit_SSE4_1) != 0;
    }();
    return available;
}

#endif

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
