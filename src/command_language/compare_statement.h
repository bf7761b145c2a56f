#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "command_language/set_value.h"

namespace blockset {

enum class comparison_format { csv, table };

/// True when word, in the format place of a compare statement, names a format ("csv" or
/// "table"); format is then set.
bool comparison_format_named(std::string_view word, comparison_format& format);

/// Writes the sizes of the sets, what each shares with every other and what each alone holds,
/// as a CSV listing or a table, to the file at path (saved like every listing) or to
/// standard output (null path). names[k] names values[k].
void set_value_compare(const char* path, comparison_format format, const std::vector<std::string>& names,
                       std::vector<expression_value> values);

} // namespace blockset
