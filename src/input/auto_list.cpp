#include "input/auto_list.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <unistd.h>
#include <zlib.h>

#include "input/dotted_quad.h"
#include "input/lines_ahead.h"
#include "input/p2b_reader.h"
#include "io/diagnostics.h"
#include "io/process.h"
#include "ranges/cidr.h"
#include "ranges/range_list.h"

namespace blockset {

namespace {

/// Bytes held at once. A line that does not fit is reported as unreadable and skipped.
constexpr std::size_t line_buffer_size = 1 << 20;
/// Plain files from this size up have their second half read ahead on a second processor.
constexpr std::size_t smallest_file_ahead = std::size_t{1} << 20;

/// How much of an unreadable line its message shows.
constexpr std::size_t shown_text_limit = 60;
/// Unreadable lines reported one by one per input; the rest are only counted.
constexpr std::uint64_t reported_line_limit = 10;

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_line_end(char c) { return c == '\n' || c == '\r'; }

bool starts_comment(const char* p, const char* end)
{
    return *p == '#' || *p == ';' || (*p == '/' && p + 1 < end && p[1] == '/');
}

/// An entry ends at the end of its line, at a blank or where a comment starts.
bool ends_entry(const char* p, const char* end)
{
    return p == end || is_blank(*p) || is_line_end(*p) || starts_comment(p, end);
}

const char* skip_blanks(const char* p, const char* end)
{
    while (p < end && is_blank(*p)) ++p;
    return p;
}

/// An in-bounds dotted quad at p: its end, or null.
const char* read_address(const char* p, const char* end, std::uint32_t& address)
{
    dotted_quad quad = read_dotted_quad({p, static_cast<std::size_t>(end - p)});
    if (quad.length == 0 || !quad.in_bounds) return nullptr;
    address = quad.address;
    return p + quad.length;
}

struct entry {
    bool read = false;
    ip_range range{0, 0};
    const char* end = nullptr;
};

/// "/n" or "/m.m.m.m" after a block's address at p; the host bits of the address are cleared.
entry read_block(const char* p, const char* end, std::uint32_t address)
{
    std::string_view rest{p, static_cast<std::size_t>(end - p)};
    unsigned prefix = 0;
    dotted_quad mask = read_dotted_quad(rest);
    if (mask.length != 0) {
        // A contiguous mask's host part is one less than a power of two.
        std::uint32_t host = ~mask.address;
        if (!mask.in_bounds || (host & (host + 1)) != 0) return {};
        prefix = static_cast<unsigned>(std::popcount(mask.address));
        p += mask.length;
    } else {
        prefix_digits digits = read_prefix_digits(rest);
        if (digits.length == 0 || digits.value > 32) return {};
        prefix = digits.value;
        p += digits.length;
    }
    if (!ends_entry(p, end)) return {};
    std::uint32_t first = address & mask_table[prefix];
    return {true, {first, block_last_address(first, prefix)}, p};
}

/// The entry at p, which is neither blank nor a comment. With ranges_only, only "a-b" and
/// "a - b" are taken (the part of a P2P line after its name).
entry read_entry(const char* p, const char* end, bool ranges_only)
{
    std::uint32_t first = 0;
    const char* after = read_address(p, end, first);
    if (after == nullptr) return {};
    if (!ranges_only && after < end && *after == '/' && !starts_comment(after, end)) {
        return read_block(after + 1, end, first);
    }
    const char* next = skip_blanks(after, end);
    if (next < end && *next == '-') {
        std::uint32_t last = 0;
        const char* stop = read_address(skip_blanks(next + 1, end), end, last);
        if (stop == nullptr || !ends_entry(stop, end)) return {};
        return {true, {first, last}, stop};
    }
    if (ranges_only || !ends_entry(after, end)) return {};
    if (next > after) {
        // Start and end as the first two fields; any other second field is a label.
        dotted_quad second = read_dotted_quad({next, static_cast<std::size_t>(end - next)});
        if (second.length != 0 && ends_entry(next + second.length, end)) {
            if (!second.in_bounds) return {};
            return {true, {first, second.address}, next + second.length};
        }
    }
    return {true, {first, first}, after};
}

/// "name:a-b", where the name may hold ':' too: the range follows the last one.
entry read_p2p_entry(const char* p, const char* end)
{
    const char* cut = p;
    while (cut < end && !starts_comment(cut, end)) ++cut;
    const char* colon = nullptr;
    for (const char* at = p; at < cut; ++at) {
        if (*at == ':') colon = at;
    }
    if (colon == nullptr) return {};
    const char* start = skip_blanks(colon + 1, cut);
    if (start == cut) return {};
    return read_entry(start, cut, true);
}

/// An IPv6 address, block or range: hex digits, ':', '.', '/' and '-', with two ':' at least.
bool is_ipv6_entry(const char* p, const char* end)
{
    int colons = 0;
    for (; !ends_entry(p, end); ++p) {
        char c = *p;
        if (c == ':') {
            ++colons;
        } else if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == '.' ||
                     c == '/' || c == '-')) {
            return false;
        }
    }
    return colons >= 2;
}

/// The text of a line as a message shows it: at most 60 bytes, with backslashes and bytes
/// that are not printable ASCII written as escapes, so the message stays one safe line.
std::string shown_text(const char* p, const char* end)
{
    while (end > p && is_blank(end[-1])) --end;
    if (static_cast<std::size_t>(end - p) > shown_text_limit) end = p + shown_text_limit;
    std::string text;
    for (; p < end; ++p) {
        auto byte = static_cast<unsigned char>(*p);
        if (byte == '\\') {
            text += "\\\\";
        } else if (byte >= 0x20 && byte < 0x7F) {
            text += static_cast<char>(byte);
        } else {
            static const char hex[] = "0123456789abcdef";
            text += "\\x";
            text += hex[byte >> 4];
            text += hex[byte & 0xF];
        }
    }
    return text;
}

/// What a line holds.
struct line_content {
    enum { nothing, adds, ipv6, unreadable } kind = nothing;
    ip_range range{0, 0};
    /// Where its text starts, past the blanks, and where its line end is (or region_end).
    const char* text = nullptr;
    const char* end = nullptr;
};

/// The line at p, which ends at a line end before region_end or at region_end itself.
line_content read_line(const char* p, const char* region_end)
{
    line_content line;
    line.text = p = skip_blanks(p, region_end);
    entry found;
    bool empty = p == region_end || is_line_end(*p) || starts_comment(p, region_end);
    if (!empty) found = read_entry(p, region_end, false);
    const char* line_end = found.read ? found.end : p;
    while (line_end < region_end && !is_line_end(*line_end)) ++line_end;
    line.end = line_end;
    if (empty) return line;
    if (!found.read) {
        found = read_p2p_entry(p, line_end);
        if (!found.read && is_ipv6_entry(p, line_end)) {
            line.kind = line_content::ipv6;
            return line;
        }
    }
    // A reversed range denotes no addresses: most likely a mistake in the list.
    if (found.read && found.range.first <= found.range.last) {
        line.kind = line_content::adds;
        line.range = found.range;
    } else {
        line.kind = line_content::unreadable;
    }
    return line;
}

/// The reader of lines read ahead on a second processor: the lines at the start of held
/// whose line end is in view (a carriage return with a byte after it), up to the first that
/// holds an IPv6 entry or cannot be read, which the main thread reads and reports.
plain_lines read_lines_ahead(std::string_view held, range_run& add)
{
    const char* const start = held.data();
    const char* const end = start + held.size();
    plain_lines taken;
    const char* p = start;
    while (p < end) {
        line_content line = read_line(p, end);
        if (end - line.end < 2 || line.kind == line_content::ipv6 || line.kind == line_content::unreadable) break;
        if (line.kind == line_content::adds) add(line.range.first, line.range.last);
        p = line.end + 1;
        if (line.end[0] == '\r' && *p == '\n') ++p;
        taken.bytes = static_cast<std::size_t>(p - start);
        ++taken.line_feeds;
    }
    return taken;
}

class line_reader {
public:
    line_reader(const char* shown, range_list& list) : shown_(shown), list_(list) {}

    /// Handles the line at p, which ends at a line end before region_end or at region_end
    /// itself; returns the start of the next line.
    const char* handle_line(const char* p, const char* region_end)
    {
        ++line_number_;
        line_content line = read_line(p, region_end);
        if (line.kind == line_content::adds) range_list_insert(list_, line.range);
        if (line.kind == line_content::ipv6) ++ipv6_entries_;
        if (line.kind == line_content::unreadable) report_unreadable(line.text, line.end);
        if (line.end == region_end) return line.end;
        return skip_line_end(line.end, region_end);
    }

    /// Counts lines read by the second processor.
    void count_lines(std::uint64_t lines) { line_number_ += lines; }

    /// Steps over the line end at p: an LF, a CR or a CRLF. A CR that is the last byte held
    /// may be the first half of a CRLF; then an LF that comes first in the next bytes is
    /// dropped (see drop_pending_lf).
    const char* skip_line_end(const char* p, const char* end)
    {
        if (*p++ == '\r') {
            if (p == end) {
                cr_pending_ = true;
            } else if (*p == '\n') {
                ++p;
            }
        }
        return p;
    }

    /// Where the next bytes start, past the second half of a CRLF split between two reads.
    const char* drop_pending_lf(const char* p, const char* end)
    {
        if (!cr_pending_ || p == end) return p;
        cr_pending_ = false;
        return *p == '\n' ? p + 1 : p;
    }

    /// A line too long to hold: reported from its start, the rest is skipped by the caller.
    void handle_overlong_line(const char* p, const char* end)
    {
        ++line_number_;
        p = skip_blanks(p, end);
        if (!starts_comment(p, end)) report_unreadable(p, end);
    }

    /// Reports what was only counted. True when every line was readable.
    bool finish()
    {
        if (unreadable_lines_ > reported_line_limit) {
            diagnostic("'%s': unreadable lines not shown: %ld\n", shown_,
                       static_cast<long>(unreadable_lines_ - reported_line_limit));
        }
        if (ipv6_entries_ != 0) diagnostic("'%s': IPv6 entries skipped: %ld\n", shown_, static_cast<long>(ipv6_entries_));
        return unreadable_lines_ == 0;
    }

private:
    void report_unreadable(const char* p, const char* end)
    {
        if (++unreadable_lines_ > reported_line_limit) return;
        diagnostic("'%s' line %ld: cannot read '%s'\n", shown_, static_cast<long>(line_number_),
                   shown_text(p, end).c_str());
    }

    const char* shown_;
    range_list& list_;
    std::uint64_t line_number_ = 0;
    std::uint64_t unreadable_lines_ = 0;
    std::uint64_t ipv6_entries_ = 0;
    bool cr_pending_ = false;
};

/// End of the last complete line among the bytes held, or 0.
std::size_t complete_lines_end(const char* buffer, std::size_t size)
{
    for (std::size_t i = size; i > 0; --i) {
        if (is_line_end(buffer[i - 1])) return i;
    }
    return 0;
}

/// The next read of at most room bytes; -1 on a broken stream, 0 at its end. A gzip
/// stream cut short is broken here: what it held was not read completely.
int read_some(gzFile file, char* into, std::size_t room)
{
    int got = gzread(file, into, static_cast<unsigned>(room));
    if (got == 0) {
        int error = Z_OK;
        gzerror(file, &error);
        if (error == Z_BUF_ERROR) return -1;
    } else if (got < 0) {
        // zlib allocates its inflate state on the first read: running out of memory there
        // is the same exhaustion as anywhere else, not a damaged file.
        int error = Z_OK;
        gzerror(file, &error);
        if (error == Z_MEM_ERROR) throw std::bad_alloc();
    }
    return got;
}

/// Reads and drops the rest of the stream; false when it is broken or cut short.
bool read_to_end(gzFile file)
{
    char scrap[1 << 14];
    for (;;) {
        int got = read_some(file, scrap, sizeof scrap);
        if (got <= 0) return got == 0;
    }
}

/// Takes what was read ahead from the cut on, the main thread being at the cut: the line
/// count, and the ranges (add_found_to). Returns the stream offset to read on from, or 0
/// when nothing was taken because the stream cannot move past those lines.
std::uint64_t take_lines_ahead(gzFile file, lines_ahead& ahead, line_reader& reader, range_list& list)
{
    ahead.stop_reading();
    lines_ahead::found found = ahead.finish();
    if (found.end > ahead.cut() && gzseek(file, static_cast<z_off_t>(found.end), SEEK_SET) >= 0) {
        reader.count_lines(static_cast<std::uint64_t>(found.line_feeds));
        ahead.add_found_to(list);
        return found.end;
    }
    ahead.release();
    return 0;
}

/// Reads the stream as lines, after the bytes held that were taken from it already; with
/// ahead running, up to its cut, where it takes the lines read ahead.
/// Returns 0 when it was read to its end and every line was readable.
int read_lines(gzFile file, std::string_view held, const char* shown, range_list& list, lines_ahead& ahead)
{
    std::unique_ptr<char[]> storage(new char[line_buffer_size]);
    char* buffer = storage.get();
    std::memcpy(buffer, held.data(), held.size());
    std::size_t size = held.size();
    std::uint64_t offset = 0; // the stream offset of buffer[0]
    bool ended = false;
    bool failed = false;
    bool skipping = false; // the rest of an over-long line is being dropped
    line_reader reader(shown, list);
    while (!ended) {
        int got = read_some(file, buffer + size, line_buffer_size - size);
        if (got <= 0) {
            ended = true;
            failed = got < 0;
        } else {
            size += static_cast<std::size_t>(got);
        }
        const char* held_end = buffer + size;
        const char* start = reader.drop_pending_lf(buffer, held_end);
        if (skipping) {
            while (start < held_end && !is_line_end(*start)) ++start;
            if (start < held_end) {
                start = reader.skip_line_end(start, held_end);
                skipping = false;
            }
        }
        // A stream cut short ends inside a line whose rest is lost: that part is not read.
        const char* region_end = buffer + (ended && !failed ? size : complete_lines_end(buffer, size));
        // Lines from the cut on are the second processor's, until its reading is taken.
        bool at_cut = false;
        if (ahead.running() && ahead.cut() >= offset && ahead.cut() - offset <= static_cast<std::uint64_t>(region_end - buffer)) {
            region_end = buffer + (ahead.cut() - offset);
            at_cut = true;
        }
        if (start < region_end) {
            while (start < region_end) start = reader.handle_line(start, region_end);
        } else if (!at_cut && !skipping && start == buffer && size == line_buffer_size) {
            reader.handle_overlong_line(buffer, held_end);
            skipping = true;
        }
        if (skipping) start = held_end;
        if (ahead.running() && !failed) {
            const std::uint64_t at = offset + static_cast<std::uint64_t>(start - buffer);
            if (at == ahead.cut()) {
                if (std::uint64_t resume = take_lines_ahead(file, ahead, reader, list)) {
                    offset = resume;
                    size = 0;
                    ended = false;
                    continue;
                }
            } else if (at > ahead.cut()) {
                ahead.release();
            }
        }
        std::size_t kept = static_cast<std::size_t>(buffer + size - start);
        offset += static_cast<std::uint64_t>(start - buffer);
        std::memmove(buffer, start, kept);
        size = kept;
    }
    // Ranges read ahead out of order join with the lines after them that this thread read.
    ahead.add_waiting_to(list);
    if (failed) diagnostic("Error reading file '%s'.\n", shown);
    bool all_readable = reader.finish();
    return failed || !all_readable ? -1 : 0;
}

} // namespace

int auto_list_read(const char* path, range_list& list)
{
    const char* shown = path != nullptr ? path : auto_standard_input_name;
    int fd = -1;
    gzFile file = gzip_input_open(path, &fd);
    int result = -1;
    lines_ahead ahead;
    // A large plain file's second half is read ahead, unless it is compressed or P2B.
    if (file != nullptr && path != nullptr) {
        unsigned char start[sizeof p2b_magic] = {};
        bool plain = ::pread(fd, start, sizeof start, 0) == static_cast<ssize_t>(sizeof start) && !(start[0] == 0x1F && start[1] == 0x8B)
                     && std::memcmp(start, p2b_magic, sizeof start) != 0;
        if (plain) ahead.start(fd, read_lines_ahead, smallest_file_ahead);
    }
    if (file == nullptr) {
        diagnostic("Error opening file '%s'.\n", shown);
    } else {
        char head[sizeof p2b_magic];
        int got = read_some(file, head, sizeof head);
        if (got < 0) {
            diagnostic("Error reading file '%s'.\n", shown);
        } else if (got == static_cast<int>(sizeof head) && std::memcmp(head, p2b_magic, sizeof head) == 0) {
            result = p2b_read_stream(file, {head, sizeof head}, shown, list);
            // The records may end before the data does; a cut stream still shows at its end.
            if (result == 0 && !read_to_end(file)) {
                diagnostic("Error reading file '%s'.\n", shown);
                result = -1;
            }
        } else {
            result = read_lines(file, {head, static_cast<std::size_t>(got)}, shown, list, ahead);
        }
        gzclose(file);
    }
    if (result != 0) note_data_error();
    return result;
}

} // namespace blockset
