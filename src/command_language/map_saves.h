#pragma once
#include <string>
#include <vector>

#include "command_language/set_value.h"

namespace blockset {

/// Draws the sets as a map and writes it as PNG to the file at path, or on standard output
/// (null path), saved like every listing. More sets than the palette has colours are
/// refused: reported, nothing written, status 65. A file that can be neither opened nor
/// written is reported and makes the status 74.
void set_value_write_map(const char* path, std::vector<expression_value> values, std::vector<std::string> names);

} // namespace blockset
