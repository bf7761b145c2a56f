#pragma once
#include <string_view>
#include <vector>

namespace blockset {

/// The delimiter of a row: the first comma, tab or semicolon outside double quotes, or 0.
char delimited_fields_delimiter(std::string_view row);

/// Splits a row at delimiter into its fields, as comma-separated values are written: blanks
/// around a field are dropped, and a field in double quotes may hold the delimiter (its text
/// is what stands between the quotes; a doubled quote stays doubled, as no address holds one).
/// False when a quote is left open or text follows a closing quote.
bool delimited_fields_split(std::string_view row, char delimiter, std::vector<std::string_view>& fields);

} // namespace blockset
