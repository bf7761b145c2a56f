#pragma once
#include <cstddef>

struct gzFile_s;

namespace blockset {

/// Opens the file at path, or standard input when path is null (once per run), for reading
/// through the gzip interface, which passes data that is not gzip through unchanged.
/// Null when it cannot be opened (nothing is reported). opened, where given, receives the
/// file descriptor the stream reads, which it closes.
gzFile_s* gzip_input_open(const char* path, int* opened = nullptr);

/// Reads at most room bytes into into: how many (fewer only near the end), 0 at the end of
/// the stream, -1 when it is broken or cut short inside a gzip member. Throws std::bad_alloc
/// when zlib runs out of memory.
int gzip_input_read(gzFile_s* file, void* into, std::size_t room);

/// Reads and drops the rest of the stream; false when it is broken or cut short.
bool gzip_input_read_to_end(gzFile_s* file);

} // namespace blockset
