#pragma once
#include <string_view>

#include "input/token_value.h"
#include "parsing/scanner.h"

namespace blockset {

/// Token kinds of the command language; 0 is the end of the input.
enum command_token : int {
    END_OF_INPUT = 0,
    KW_LOAD = 258,
    KW_SAVE,
    KW_UNION,
    KW_DIFFERENCE,
    KW_INTERSECT,
    KW_INVERT,
    KW_STDIN,
    KW_STDOUT,
    KW_TEXT,
    KW_CIDR,
    KW_SINGLE,
    KW_RANGE,
    KW_P2B,
    CIDR_LITERAL,
    RANGE_LITERAL,
    ADDRESS_LITERAL,
    HOST_NAME,
    VARIABLE,
    STRING,
    LBRACE,
    RBRACE,
    LPAREN,
    RPAREN,
    EQUALS,
    SEMICOLON,
    COMMA,
};

/// The process's one command-language scanner (its line counter runs for the whole process).
scanner& command_scanner();

/// The next token of the command scanner; blanks, line ends and comments are skipped and
/// bytes that no rule takes echoed.
command_token command_scanner_next_token(scanner& language_scanner, token_value& value);

} // namespace blockset
