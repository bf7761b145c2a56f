#pragma once
#include <cstddef>
#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace blockset {

// A dotted quad read from 16 bytes by vector instructions, without a branch on the digit
// counts, where the processor has SSE4.1; and the line feeds among 48 bytes. They may run only
// where vector_quads_available() holds, and are inlined only into code that
// BLOCKSET_VECTOR_TARGET marks. Elsewhere they are built as stubs that are never called, so
// that callers need no test of the processor they are built for.

/// What read_quad_vector finds: the bytes the quad takes (0 when the text starts with none:
/// four groups of one to three digits joined by single dots, where a fourth digit in the
/// last group is not part of it), its address, and whether every group is at most 255.
struct vector_quad {
    std::size_t length = 0;
    std::uint32_t address = 0;
    bool in_bounds = false;
};

/// Whether this processor runs the vector readers: asked of the processor once in a run,
/// when first needed.
bool vector_quads_available();

#if defined(__x86_64__) || defined(__i386__)

#define BLOCKSET_VECTOR_TARGET [[gnu::target("sse4.1")]]

namespace vector_quad_detail {

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

} // namespace vector_quad_detail

/// Reads the dotted quad at text from the 16 bytes there, which must all be readable.
BLOCKSET_VECTOR_TARGET inline vector_quad read_quad_vector(const char* text)
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
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(vector_quad_detail::quad_shuffle_table.masks[index]));
    const __m128i placed = _mm_shuffle_epi8(digits, shuffle);
    const __m128i pairs = _mm_maddubs_epi16(placed, _mm_setr_epi8(0, 100, 10, 1, 0, 100, 10, 1, 0, 100, 10, 1, 0, 100, 10, 1));
    const __m128i groups = _mm_madd_epi16(pairs, _mm_set1_epi16(1));
    vector_quad quad;
    quad.length = third_end + 1 + d;
    quad.in_bounds = _mm_movemask_epi8(_mm_cmpgt_epi32(groups, _mm_set1_epi32(255))) == 0;
    // Little-endian: the last group's low byte first.
    const __m128i packed = _mm_shuffle_epi8(groups, _mm_setr_epi8(12, 8, 4, 0, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1));
    quad.address = static_cast<std::uint32_t>(_mm_cvtsi128_si32(packed)) & (0u - quad.in_bounds);
    return quad;
}

/// Bit i set where byte i of the 48 bytes at text is a line feed.
BLOCKSET_VECTOR_TARGET inline std::uint64_t line_feeds_vector(const char* text)
{
    const __m128i feed = _mm_set1_epi8('\n');
    auto feeds_in = [&](const char* bytes) {
        const __m128i loaded = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
        return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(loaded, feed))));
    };
    return feeds_in(text) | feeds_in(text + 16) << 16 | feeds_in(text + 32) << 32;
}

#else

#define BLOCKSET_VECTOR_TARGET
inline vector_quad read_quad_vector(const char*) { return {}; }
inline std::uint64_t line_feeds_vector(const char*) { return 0; }

#endif

} // namespace blockset
