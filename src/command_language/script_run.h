#pragma once
#include <string_view>

namespace blockset {

/// Runs the script in the file at path; "Error opening file %s." when it cannot be opened.
void run_script_file(const char* path);
/// Runs the script text exactly as a file holding the same bytes would be run.
void run_script_text(std::string_view text);

} // namespace blockset
