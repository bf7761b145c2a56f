#pragma once

namespace blockset {

struct range_list;
struct token_value;

/// Adds every entry of a text blocklist to the list (which is not cleared first).
/// path null means standard input, which can be read once per run: a later read of it adds
/// nothing and prints nothing. Problems are reported on standard error; the list keeps what
/// was added before them.
void text_list_read(const char* path, range_list& list);

/// Adds what the entry token (CIDR, RANGE, ADDRESS or HOST) read into value denotes: the
/// conversion the reader runs as soon as the token has been read.
void text_entry_add(range_list& list, int token, const token_value& value);

} // namespace blockset
