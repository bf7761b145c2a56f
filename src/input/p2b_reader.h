#pragma once

namespace blockset {

struct range_list;

/// Adds every range of a P2B list (version 1, 2 or 3, plain or gzip) to the list.
/// path null means standard input, which can be read once per run.
/// Returns 0 when the data was read (also when plain data simply ends early), -1 after printing
/// why not: a gzip stream that is damaged or cut short counts as a read error.
int p2b_read(const char* path, range_list& list);

} // namespace blockset
