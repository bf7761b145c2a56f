#pragma once

namespace blockset {

struct range_list;

/// Adds every entry of a text blocklist to the list (which is not cleared first).
/// path null means standard input, which can be read once per run: a later read of it adds
/// nothing and prints nothing. Problems are reported on standard error; the list keeps what
/// was added before them.
void text_list_read(const char* path, range_list& list);

} // namespace blockset
