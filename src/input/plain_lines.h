#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "input/dotted_quad.h"
#include "parallel/line_blocks.h"
#include "ranges/cidr.h"

namespace blockset {

// The usual lines of a text list, one address literal right before a line feed or a carriage
// return and line feed, read in bulk from bytes held in memory. The general way reads each
// such line as the literal's token and LINE_END; these readers give the same ranges and line
// count, and stop before the first other line, which the general way then reads.

namespace plain_lines_detail {

/// An address literal at the start of a plain line: where it ends (null when the line starts
/// with none), and what it adds.
struct plain_literal {
    const char* end = nullptr;
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    bool adds = false;
};

/// The longest address literal at text, which has plain_line_room bytes readable, with the
/// quad reader given.
template <dotted_quad (*read_quad)(const char*)>
[[gnu::always_inline]] inline plain_literal read_plain_literal(const char* text)
{
    plain_literal literal;
    const dotted_quad first = read_quad(text);
    if (first.length == 0) return literal;
    const char* next = text + first.length;
    literal.first = literal.last = first.address;
    literal.adds = first.in_bounds;
    if (*next == '/') {
        unsigned prefix = static_cast<unsigned char>(next[1]) - unsigned{'0'};
        const unsigned low = static_cast<unsigned char>(next[2]) - unsigned{'0'};
        if (prefix <= 9) {
            next += 2;
            if (low <= 9) {
                prefix = prefix * 10 + low;
                ++next;
            }
            // A prefix length above 32 has no block: the literal adds nothing.
            literal.adds = literal.adds && prefix <= 32;
            if (literal.adds) literal.last = block_last_address(first.address, prefix);
        }
    } else if (*next == '-') {
        const dotted_quad last = read_quad(next + 1);
        if (last.length != 0) {
            next += 1 + last.length;
            literal.last = last.address;
            literal.adds = literal.adds && last.in_bounds;
        }
    }
    literal.end = next;
    return literal;
}

} // namespace plain_lines_detail

/// Hands add(first, last) the entries of the plain lines at the start of held, each an
/// address literal right before LF or CR LF; stops before the first other line, or where
/// fewer than plain_line_room bytes remain (held holds that many at least). A reversed range
/// is handed over too: it adds nothing, and the adding knows.
template <class Add>
plain_lines read_plain_lines_scalar(std::string_view held, Add& add)
{
    using namespace plain_lines_detail;
    const char* const begin = held.data();
    const char* const last_start = begin + held.size() - plain_line_room;
    const char* at = begin;
    int line_feeds = 0;
    while (at <= last_start) {
        const plain_literal literal = read_plain_literal<read_dotted_quad_wide>(at);
        if (literal.end == nullptr) break;
        const char* line_feed = literal.end + (literal.end[0] == '\r');
        if (*line_feed != '\n') break;
        if (literal.adds) add(literal.first, literal.last);
        ++line_feeds;
        at = line_feed + 1;
    }
    return {static_cast<std::size_t>(at - begin), line_feeds};
}

/// The same as read_plain_lines_scalar, with the vector quad reader, and each line's end found
/// first among the plain_line_room bytes held from its start, so that the next line's read
/// need not wait for this one's. Only where vector_quads_available().
template <class Add>
BLOCKSET_VECTOR_TARGET plain_lines read_plain_lines_vector(std::string_view held, Add& add)
{
    using namespace plain_lines_detail;
    const char* const begin = held.data();
    const char* const last_start = begin + held.size() - plain_line_room;
    const char* at = begin;
    int line_feeds = 0;
    while (at <= last_start) {
        // Without a line feed among the 48 bytes, a mark past them, which no literal's end (31
        // bytes in at most) or its CR can reach.
        static_assert(plain_line_room == 48);
        const std::uint64_t feeds = line_feeds_vector(at) | std::uint64_t{1} << 48;
        const char* const line_feed = at + __builtin_ctzll(feeds);
        const plain_literal literal = read_plain_literal<read_dotted_quad_vector>(at);
        if (literal.end == nullptr) break;
        if (literal.end != line_feed && (literal.end + 1 != line_feed || *literal.end != '\r')) break;
        if (literal.adds) add(literal.first, literal.last);
        ++line_feeds;
        at = line_feed + 1;
    }
    return {static_cast<std::size_t>(at - begin), line_feeds};
}

/// The plain lines at the start of held, read by the vector reader where the processor has
/// it, else by its scalar twin: the same ranges and counts either way.
template <class Add>
plain_lines read_plain_lines(std::string_view held, Add& add)
{
    if (vector_quads_available()) return read_plain_lines_vector(held, add);
    return read_plain_lines_scalar(held, add);
}

} // namespace blockset
