#pragma once

namespace blockset {

class output_stream;
struct range_list;

/// One line "a.b.c.d-e.f.g.h" per range.
void range_list_write_ranges(output_stream& out, range_list& list);
/// One line "a.b.c.d" per address, every address of every range in ascending order.
void range_list_write_addresses(output_stream& out, range_list& list);

// The output operations write one listing to the file at path (created or truncated), or to
// standard output when path is null (never closed). They return 0, or -1 after reporting
// "Error opening file '%s'." or "Error writing file '%s'." (a write error also makes the
// process end with status 74).

int write_cidr_file(const char* path, range_list& list);
int write_ranges_file(const char* path, range_list& list);
int write_addresses_file(const char* path, range_list& list);

} // namespace blockset
