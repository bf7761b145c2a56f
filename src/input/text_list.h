#pragma once
#include <cstddef>

#include "input/plain_lines.h"

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

/// How the reader takes the usual lines, one address literal right before a line feed or a
/// carriage return and line feed, in bulk from the bytes held (plain_lines.h). The default is
/// the vector reader where the processor has it, else the scalar one. Every choice reads
/// alike; tests compare them.
void text_list_set_plain_line_reader(plain_line_reader reader);

/// Regular files of at least this many bytes (1 MiB unless set) have the plain lines of their
/// second half read on a second processor, when there is one, while the first half is read;
/// with plain_line_reader::none, never. The result is the same; tests compare the two.
void text_list_set_smallest_file_ahead(std::size_t bytes);

} // namespace blockset
