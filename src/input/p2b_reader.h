#pragma once
#include <string_view>

struct gzFile_s;

namespace blockset {

struct range_list;
class entry_consumer;

/// The first seven bytes of every P2B list, after any gzip compression is undone.
inline constexpr unsigned char p2b_magic[7] = {0xFF, 0xFF, 0xFF, 0xFF, 'P', '2', 'B'};

/// Adds every range of a P2B list (version 1, 2 or 3, plain or gzip) to the list.
/// path null means standard input, which can be read once per run.
/// Returns 0 when the data was read (also when plain data simply ends early), -1 after printing
/// why not: a gzip stream that is damaged or cut short counts as a read error.
int p2b_read(const char* path, range_list& list);

/// The same on a stream that is already open, whose first bytes (at most a few dozen) were
/// taken already and are passed as held. Messages name the input shown;
/// the stream stays open.
int p2b_read_stream(gzFile_s* file, std::string_view held, const char* shown, range_list& list);

/// Reads a P2B list as p2b_read does, handing each record to consumer instead, numbered from
/// 1 and written NAME:FIRST-LAST (its name's bytes as they are).
int p2b_search(const char* path, entry_consumer& consumer);
/// The same on a stream that is already open, as p2b_read_stream.
int p2b_search_stream(gzFile_s* file, std::string_view held, const char* shown, entry_consumer& consumer);

} // namespace blockset
