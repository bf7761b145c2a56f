#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "command_language/command_scanner.h"
#include "command_language/set_value.h"

namespace blockset {

/// The name a statement gives the set argument at position (from 1): a variable's name when
/// the argument begins with one (a reference or an assignment: first is VARIABLE and text its
/// name), a load's path as written (first is KW_LOAD and text its path, or "stdin"), and
/// otherwise "#position".
std::string set_argument_name(command_token first, std::string_view text, std::size_t position);

/// Draws the sets as a map and writes it as PNG to the file at path, or on standard output
/// (null path), saved like every listing. More sets than the palette has colours are
/// refused: reported, nothing written, status 65. A file that can be neither opened nor
/// written is reported and makes the status 74.
void set_value_write_map(const char* path, std::vector<expression_value> values, std::vector<std::string> names);

} // namespace blockset
