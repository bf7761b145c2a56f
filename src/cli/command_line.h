#pragma once

namespace blockset {

/// Checks the arguments, runs the chosen mode and returns the exit status of the run.
/// Wrong invocations print the usage text and end the process with status 1.
int run_command_line(int argc, char** argv);

/// Converts one list to CIDR lines on standard output. type is "p2b" or "text"
/// (anything else: usage); table null means standard input.
void run_query(const char* type, const char* table);

/// Writes the table of a compare statement of the lists, each loaded as type ("p2b", "text"
/// or "auto"; anything else: usage) and named by its path.
void run_list_comparison(const char* type, char** lists, int count);

/// Writes the usage text on standard error and ends the process with status 1.
[[noreturn]] void print_usage_and_exit();

} // namespace blockset
