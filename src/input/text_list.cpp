#include "input/text_list.h"

#include <cstdint>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

#include "input/dotted_quad.h"
#include "input/entry_literals.h"
#include "input/text_scanner.h"
#include "io/diagnostics.h"
#include "io/file_opener.h"
#include "io/process.h"
#include "parsing/scanner.h"
#include "ranges/range_list.h"

namespace blockset {

void text_entry_add(range_list& list, int token, const text_token_value& value)
{
    if (value.read) {
        if (value.adds) range_list_insert(list, value.range);
        return;
    }
    switch (token) {
    case CIDR:
        add_cidr_literal(list, value.text);
        break;
    case RANGE:
        add_range_literal(list, value.text);
        break;
    case ADDRESS:
        add_address_literal(list, value.text);
        break;
    default:
        host_lookup(list, value.text);
        break;
    }
}

namespace {

/// Bytes held from a line's start that decide a plain line without a look past them: a range
/// literal's second quad starts 16 bytes in at most and its read loads 16 bytes, and the line
/// end follows by byte 33.
constexpr std::size_t plain_line_room = 48;

struct plain_lines {
    std::size_t bytes = 0;
    int line_feeds = 0;
};

/// An address literal at the start of a plain line: where it ends (null when the line starts
/// with none), and what it adds.
struct plain_literal {
    const char* end = nullptr;
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    bool adds = false;
};

/// The longest address literal at text, which has plain_line_room bytes readable.
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

/// Adds the entries of the plain lines at the start of held, each an address literal right
/// before LF or CR LF, which the general way reads as the literal's token and LINE_END; stops
/// before the first other line, or where fewer than plain_line_room bytes remain (held holds
/// that many at least).
plain_lines read_plain_lines_scalar(std::string_view held, range_list& list)
{
    const char* const begin = held.data();
    const char* const last_start = begin + held.size() - plain_line_room;
    const char* at = begin;
    int line_feeds = 0;
    while (at <= last_start) {
        const plain_literal literal = read_plain_literal<read_dotted_quad_wide>(at);
        if (literal.end == nullptr) break;
        const char* line_feed = literal.end + (literal.end[0] == '\r');
        if (*line_feed != '\n') break;
        // A reversed range adds nothing; the insertion knows.
        if (literal.adds) range_list_add_range(list, literal.first, literal.last);
        ++line_feeds;
        at = line_feed + 1;
    }
    return {static_cast<std::size_t>(at - begin), line_feeds};
}

#ifdef BLOCKSET_VECTOR_QUAD
/// The same as read_plain_lines_scalar, with the vector quad reader, and each line's end found
/// first among its first 32 bytes, so that the next line's read need not wait for this one's.
/// (A plain line of 33 bytes, the longest range with CR LF, goes the general way.)
[[gnu::target("sse4.1")]] plain_lines read_plain_lines_vector(std::string_view held, range_list& list)
{
    const char* const begin = held.data();
    const char* const last_start = begin + held.size() - plain_line_room;
    const char* at = begin;
    int line_feeds = 0;
    const __m128i feed = _mm_set1_epi8('\n');
    while (at <= last_start) {
        auto feeds_in = [&](const char* bytes) {
            const __m128i loaded = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
            return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(loaded, feed))));
        };
        // Without a line feed among the 32 bytes, a mark far past them, which no literal's end
        // (31 bytes in at most) or its CR can reach.
        const std::uint64_t feeds = feeds_in(at) | feeds_in(at + 16) << 16 | std::uint64_t{1} << 48;
        const char* const line_feed = at + __builtin_ctzll(feeds);
        const plain_literal literal = read_plain_literal<read_dotted_quad_sse41>(at);
        if (literal.end == nullptr) break;
        if (literal.end != line_feed && (literal.end + 1 != line_feed || *literal.end != '\r')) break;
        if (literal.adds) range_list_add_range(list, literal.first, literal.last);
        ++line_feeds;
        at = line_feed + 1;
    }
    return {static_cast<std::size_t>(at - begin), line_feeds};
}
#endif

using plain_lines_reader = plain_lines (*)(std::string_view, range_list&);

plain_line_reader chosen_plain_line_reader = plain_line_reader::vector;

plain_lines_reader plain_lines_reader_for(plain_line_reader choice)
{
    switch (choice) {
    case plain_line_reader::none:
        return nullptr;
    case plain_line_reader::scalar:
        return read_plain_lines_scalar;
    case plain_line_reader::vector:
        break;
    }
#ifdef BLOCKSET_VECTOR_QUAD
    static const bool vector = sse41_available();
    if (vector) return read_plain_lines_vector;
#endif
    return read_plain_lines_scalar;
}

/// blocklist: (empty) | blocklist entry LINE_END | blocklist LINE_END.
/// Returns 0 when the whole input was accepted, 1 after a syntax error. The grammar is
/// left-recursive, so the automaton's stack stays a few entries deep however long the input.
int text_parser_run(range_list& list)
{
    scanner& in = text_scanner();
    const plain_lines_reader take_plain_lines = plain_lines_reader_for(chosen_plain_line_reader);
    text_token_value value;
    for (;;) {
        // At a line start: the usual lines in bulk, then a token the general way.
        if (take_plain_lines != nullptr) {
            std::string_view held = in.held();
            if (held.size() >= plain_line_room) {
                plain_lines taken = take_plain_lines(held, list);
                in.consume_lines(taken.bytes, taken.line_feeds);
            }
        }
        int token = text_scanner_next_token(in, value);
        if (token == TEXT_END) return 0;
        if (token == LINE_END) continue;
        // An entry is reduced before the token after it is read, so it is added even when
        // that token turns out to be a syntax error.
        text_entry_add(list, token, value);
        if (text_scanner_next_token(in, value) != LINE_END) break;
    }
    report_parse_error(in, "syntax error");
    return 1;
}

} // namespace

void text_list_set_plain_line_reader(plain_line_reader reader) { chosen_plain_line_reader = reader; }

void text_list_read(const char* path, range_list& list)
{
    int fd;
    if (path != nullptr) {
        fd = open_path(path, O_RDONLY);
        if (fd < 0) {
            diagnostic("Error opening file %s.\n", path);
            return;
        }
    } else {
        // Standard input was closed by its first reader; later reads find it empty.
        if (!claim_standard_input()) return;
        fd = STDIN_FILENO;
    }
    text_scanner().restart(fd);
    text_parser_run(list);
    range_list_release_spare(list);
    ::close(fd);
}

} // namespace blockset
