#pragma once

namespace blockset {

struct range_list;
struct token_value;
class entry_consumer;

/// Adds every entry of a text blocklist to the list (which is not cleared first).
/// path null means standard input, which can be read once per run: a later read of it adds
/// nothing and prints nothing. Problems are reported on standard error; the list keeps what
/// was added before them.
void text_list_read(const char* path, range_list& list);

/// Reads a text blocklist as text_list_read does, handing each entry to consumer instead: the
/// line it is on, and the text of its literal or host name. Returns 0 when the whole list was
/// read, -1 when it could not be opened or had a syntax error (which was reported).
int text_list_search(const char* path, entry_consumer& consumer);

/// Adds what the entry token (CIDR, RANGE, ADDRESS or HOST) read into value denotes: the
/// conversion the reader runs as soon as the token has been read.
void text_entry_add(range_list& list, int token, const token_value& value);

} // namespace blockset
