#pragma once

namespace blockset {

class scanner;
struct variable_table;

/// Parses the script the scanner is bound to and runs each statement as soon as it has been
/// parsed. Returns 0 when the whole script was accepted, 1 when it stopped at a syntax error
/// or because its nesting went past the parser's depth limit (both reported on standard error).
int command_parser_run(scanner& language_scanner, variable_table& table);

} // namespace blockset
