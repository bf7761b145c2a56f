#include "input/text_list.h"

#include <fcntl.h>
#include <unistd.h>

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

/// blocklist: (empty) | blocklist entry LINE_END | blocklist LINE_END.
/// Returns 0 when the whole input was accepted, 1 after a syntax error. The grammar is
/// left-recursive, so the automaton's stack stays a few entries deep however long the input.
int text_parser_run(range_list& list)
{
    scanner& in = text_scanner();
    text_token_value value;
    for (;;) {
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
