#pragma once

namespace blockset {

/// True when an option letter in front of the operands is m: the form
/// "-m [-v] [-c] type list [file...]", which only ever was a usage error before.
bool is_match_command(int argc, char** argv);

/// Reads the list as type (p2b, text or auto) into a set, then writes the lines of the files
/// (standard input when none is named) that hold an address in the set. Returns the exit
/// status: 0 when a line was kept, 3 when none was, 65 when the list or a file could not be
/// read, 74 when output failed. A wrong invocation prints this form's usage line and ends
/// the process with status 1.
int run_match_command(int argc, char** argv);

} // namespace blockset
