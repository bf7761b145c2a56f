#include "input/text_list.h"

#include <algorithm>
#include <cstdint>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

#include "input/entry_literals.h"
#include "input/list_entry.h"
#include "input/plain_lines.h"
#include "input/text_scanner.h"
#include "io/diagnostics.h"
#include "io/file_opener.h"
#include "io/process.h"
#include "parallel/lines_ahead.h"
#include "parsing/scanner.h"
#include "ranges/range_list.h"

namespace blockset {

void text_entry_add(range_list& list, int token, const token_value& value)
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

/// Hands plain-line entries to a list.
struct add_to_list {
    range_list& list;
    void operator()(std::uint32_t first, std::uint32_t last) { range_list_insert(list, ip_range{first, last}); }
};

/// Files from this size up have their second half's plain lines read on a second processor.
constexpr std::size_t smallest_file_ahead = std::size_t{1} << 20;

/// Takes what was read ahead from the cut on, once the reading has reached the cut at a line
/// start: the ranges (add_found_to), and the scan position moved past their lines. What was
/// read ahead is dropped when the reading is past the cut already, or cannot move past those
/// lines.
void take_lines_ahead(scanner& in, range_list& list, lines_ahead& ahead)
{
    if (in.offset() == ahead.cut()) {
        ahead.stop_reading();
        lines_ahead::found found = ahead.finish();
        if (in.skip(found.end - ahead.cut(), found.line_feeds)) {
            ahead.add_found_to(list);
            return;
        }
    }
    ahead.release();
}

/// Hands what the entry just read adds to the consumer, with its line and text; a host name
/// hands on each of its addresses. added is room for them, left empty.
void text_entry_hand_on(entry_consumer& consumer, int token, const token_value& value, std::uint64_t line, range_list& added)
{
    if (value.read) {
        // A reversed range adds nothing, as in a load.
        if (value.adds && value.range.first <= value.range.last) consumer.take(value.range, line, value.text);
        return;
    }
    text_entry_add(added, token, value);
    for (ip_range range : range_list_view(added)) consumer.take(range, line, value.text);
    range_list_clear(added);
}

/// blocklist: (empty) | blocklist entry LINE_END | blocklist LINE_END.
/// Returns 0 when the whole input was accepted, 1 after a syntax error. The grammar is
/// left-recursive, so the automaton's stack stays a few entries deep however long the input.
/// With a consumer, the entries go to it, one by one, instead of to the list, and the usual
/// lines are read the general way too.
int text_parser_run(range_list& list, lines_ahead& ahead, entry_consumer* consumer)
{
    scanner& in = text_scanner();
    add_to_list add{list};
    token_value value;
    range_list entry_ranges;
    for (;;) {
        // At a line start: what was read ahead, once the cut is reached; the usual lines in
        // bulk, up to the cut; then a token the general way.
        if (ahead.running() && in.offset() >= ahead.cut()) take_lines_ahead(in, list, ahead);
        std::string_view held = in.held();
        if (ahead.running()) held = held.substr(0, std::min<std::uint64_t>(held.size(), ahead.cut() - in.offset()));
        if (held.size() >= plain_line_room && consumer == nullptr) {
            plain_lines taken = read_plain_lines(held, add);
            in.consume(taken.bytes);
        }
        int token = text_scanner_next_token(in, value);
        if (token == TEXT_END) return 0;
        if (token == LINE_END) continue;
        // An entry is reduced before the token after it is read, so it is added even when
        // that token turns out to be a syntax error.
        if (consumer != nullptr) {
            text_entry_hand_on(*consumer, token, value, static_cast<std::uint64_t>(in.line_number()), entry_ranges);
        } else {
            text_entry_add(list, token, value);
        }
        if (text_scanner_next_token(in, value) != LINE_END) break;
    }
    report_parse_error(in, "syntax error");
    return 1;
}

/// Reads the list at path (null: standard input) into list, or hands its entries to
/// consumer when that is not null. Returns 0 when the whole list was read, -1 after a
/// problem was reported.
int read_text_list(const char* path, range_list& list, entry_consumer* consumer)
{
    int fd;
    if (path != nullptr) {
        fd = open_path(path, O_RDONLY);
        if (fd < 0) {
            diagnostic("Error opening file %s.\n", path);
            return -1;
        }
    } else {
        // Standard input was closed by its first reader; later reads find it empty.
        if (!claim_standard_input()) return 0;
        fd = STDIN_FILENO;
    }
    int result = 0;
    text_scanner().restart(fd);
    {
        lines_ahead ahead;
        // Standard input may be shared with the next reader, which must find it where reading
        // in turn would have left it: only a file of its own is read ahead.
        if (path != nullptr && consumer == nullptr) ahead.start(fd, read_plain_lines<range_run>, smallest_file_ahead);
        ahead.reserve_room_in(list);
        result = text_parser_run(list, ahead, consumer) == 0 ? 0 : -1;
        // Ranges read ahead out of order, before any syntax error, join with the lines after
        // them that the second processor left to this one.
        ahead.add_waiting_to(list);
    }
    ::close(fd);
    return result;
}

} // namespace

void text_list_read(const char* path, range_list& list) { read_text_list(path, list, nullptr); }

int text_list_search(const char* path, entry_consumer& consumer)
{
    range_list unused;
    return read_text_list(path, unused, &consumer);
}

} // namespace blockset
