#pragma once

namespace blockset {

class scanner;
struct variable_table;

/// Parses the script the scanner is bound to and runs each statement as soon as it has been
/// parsed, up to the end of the script or to the first syntax error or nesting past the
/// parser's depth limit (both reported on standard error).
void command_parser_run(scanner& language_scanner, variable_table& table);

} // namespace blockset
