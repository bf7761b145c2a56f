#pragma once

namespace blockset {

struct range_list;

/// Name that messages give standard input when the auto reader reads it.
inline constexpr const char* auto_standard_input_name = "(stdin)";

/// Adds every entry of a published list to the list (which is not cleared first), telling
/// its kind by content: P2B (plain or gzip), gzip-compressed text, or text lines in the
/// shapes lists are published in. path null means standard input, which can be read once
/// per run. Returns 0 when the input was read completely and every line was readable;
/// otherwise -1, after reporting what went wrong, and the process will end with status 65.
/// The list keeps whatever was readable either way.
int auto_list_read(const char* path, range_list& list);

} // namespace blockset
