#pragma once
#include "io/output_stream.h"

namespace blockset {

/// Writes what listing(out, context) produces to the file at path, or on standard output when
/// path is null (standard output is never closed).
///
/// A regular file, or the regular file a symbolic link leads to, is replaced whole: the text goes
/// into a new file in the same directory, which takes the old file's permission bits (and its
/// owner and group where the process may set them), and is renamed over the old one only once
/// every write, the fsync and the close have succeeded. Where the new text equals the old file's
/// bytes, the old file stays as it is (same inode, same modification time). Devices, FIFOs,
/// sockets, a file that is also one of the standard streams, and a file whose directory allows
/// no new file are written in place.
///
/// Failures are reported here: "Error opening file '%s'." when the file can neither be opened
/// nor created; otherwise "Error writing file '%s'.", after which the process ends with status
/// 74 and a replaced file keeps its previous content. While a named file is written, SIGPIPE
/// and SIGXFSZ make the writes fail instead of ending the process, and SIGINT, SIGTERM or
/// SIGHUP remove the unfinished file before they end it.
/// Returns false when the file could not be opened or written (standard output's failures
/// are reported when the process ends).
bool write_output_file(const char* path, void (*listing)(output_stream& out, void* context),
                       void* context);

/// The same for a listing of one typed source.
template <typename source_type>
bool write_output_file(const char* path, source_type& source,
                       void (*listing)(output_stream& out, source_type& source))
{
    struct bound {
        source_type* source;
        void (*listing)(output_stream&, source_type&);
    } call{&source, listing};
    return write_output_file(
        path,
        [](output_stream& out, void* context) {
            const bound* c = static_cast<const bound*>(context);
            c->listing(out, *c->source);
        },
        &call);
}

/// How a replacement that fill decides ended.
enum class replacement_outcome { replaced, refused, failed };

/// Replaces the regular file at path (or the one a symbolic link there leads to), or makes it,
/// with a file that fill(fd, name, context) writes: a new file in the same directory, with the
/// old file's permission bits (and owner and group where the process may set them), open for
/// reading and writing at fd and reachable by name. Only when fill returns true, and the fsync,
/// the close and the rename succeed, does the new file take path's place (replaced); when fill
/// returns false the new file is removed and path keeps its bytes and inode (refused). failed:
/// the new file could not be made or put in place (errno tells why); nothing changed. While
/// fill runs, SIGINT, SIGTERM or SIGHUP remove the new file before they end the process.
/// Reports nothing.
replacement_outcome replace_output_file(const char* path, bool (*fill)(int fd, const char* name, void* context),
                                        void* context);

/// Removes the unfinished replacement file of a save under way, if there is one. For the
/// fatal endings: allocates nothing and is safe in a signal handler.
void remove_unfinished_output();

} // namespace blockset
