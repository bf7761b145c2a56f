#pragma once
#include <string_view>

#include "input/token_value.h"
#include "parsing/scanner.h"
#include "ranges/range_list.h"

namespace blockset {

/// Token codes of the text blocklist format; 0 is the end of the input.
enum text_token : int {
    TEXT_END = 0,
    CIDR = 257,
    RANGE = 258,
    ADDRESS = 259,
    HOST = 260,
    LINE_END = 261,
};

/// The text format's lexical rules, in priority order (the first wins a tie of lengths).
enum text_rule : int {
    text_rule_cidr, // the three literal rules stay together in this order (match_address_rules)
    text_rule_range,
    text_rule_address,
    text_rule_host,
    text_rule_crlf,
    text_rule_line_feed,
    text_rule_carriage_return,
    text_rule_comment,
    text_rule_blanks,
};

/// The longest match of the text rules at the start of text; no_rule means the byte is echoed.
scan_match text_scan_rules(std::string_view text, bool input_ended, bool& needs_more);

/// The next token of a scanner that runs the text rules: blanks and comments are skipped,
/// unmatched bytes echoed, and line feeds (alone or after a carriage return) counted.
int text_scanner_next_token(scanner& text_scanner, token_value& value);

/// The one scanner of the text format; its line counter runs on across reads.
scanner& text_scanner();

} // namespace blockset
