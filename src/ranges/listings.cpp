#include "ranges/listings.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "io/diagnostics.h"
#include "io/file_opener.h"
#include "io/output_stream.h"
#include "io/process.h"
#include "ranges/address_format.h"
#include "ranges/range_list.h"

namespace blockset {

namespace {

/// The longest line of the address listing: "255.255.255.255\n".
constexpr std::size_t max_address_line = max_address_text + 1;

/// Writes one line per address of first..last, which lie in one /24 block. The text
/// "a.b.c." is formatted once; each line is that prefix and the last octet's text, both
/// moved by fixed-size copies, and the line end. A prefix is at most 12 bytes and an octet's
/// text 4, so no copy reaches past the 16 bytes a line may take.
void write_block_addresses(output_stream& out, std::uint32_t first, std::uint32_t last)
{
    char prefix[16] = {};
    std::size_t prefix_length =
        static_cast<std::size_t>(format_address(prefix, first & ~0xFFu) - prefix) - 1;
    const unsigned most_lines =
        static_cast<unsigned>(std::min<std::size_t>(256, out.capacity() / 2 / max_address_line));
    unsigned octet = first & 0xFFu;
    const unsigned last_octet = last & 0xFFu;
    for (;;) {
        unsigned chunk_end = std::min(last_octet, octet + most_lines - 1);
        char* p = out.reserve((chunk_end - octet + 1) * max_address_line);
        for (; octet <= chunk_end; ++octet) {
            std::memcpy(p, prefix, sizeof prefix);
            p += prefix_length;
            std::memcpy(p, octet_texts[octet].text, sizeof octet_texts[octet].text);
            p += octet_texts[octet].length;
            *p++ = '\n';
        }
        out.commit(p);
        if (chunk_end == last_octet) return;
    }
}

/// Runs one listing on the file at path, or on standard output when there is none.
int write_file(const char* path, range_list& list,
               void (*listing)(output_stream&, range_list&))
{
    if (path == nullptr) {
        listing(standard_output(), list);
        return 0;
    }
    // Merge pending additions before the file exists, so that running out of memory while
    // doing so leaves no half-made file behind.
    range_list_view(list);
    int fd = open_path(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        diagnostic("Error opening file '%s'.\n", path);
        return -1;
    }
    bool written;
    {
        output_stream out(fd);
        listing(out, list);
        written = out.flush();
    }
    // A full disk may only show itself when the file is closed.
    if (::close(fd) != 0) written = false;
    if (!written) {
        diagnostic("Error writing file '%s'.\n", path);
        note_write_error();
        return -1;
    }
    return 0;
}

} // namespace

void range_list_write_ranges(output_stream& out, range_list& list)
{
    for (const ip_range& range : range_list_view(list)) {
        char* p = out.reserve(max_address_text + 1 + address_text_room + 1);
        p = format_address(p, range.first);
        *p++ = '-';
        p = format_address(p, range.last);
        *p++ = '\n';
        out.commit(p);
    }
}

void range_list_write_addresses(output_stream& out, range_list& list)
{
    for (const ip_range& range : range_list_view(list)) {
        if (range.first > range.last) continue;
        std::uint32_t address = range.first;
        for (;;) {
            std::uint32_t block_end = std::min(address | 0xFFu, range.last);
            write_block_addresses(out, address, block_end);
            // Stopping at the range's last address means never stepping past the top one.
            if (block_end == range.last) break;
            address = block_end + 1;
        }
    }
}

int write_cidr_file(const char* path, range_list& list)
{
    return write_file(path, list, range_list_write_cidr);
}

int write_ranges_file(const char* path, range_list& list)
{
    return write_file(path, list, range_list_write_ranges);
}

int write_addresses_file(const char* path, range_list& list)
{
    return write_file(path, list, range_list_write_addresses);
}

namespace {

void write_cidr_line(output_stream& out, std::uint32_t address, unsigned prefix_length)
{
    char* p = out.reserve(address_text_room + 4);
    p = format_address(p, address);
    *p++ = '/';
    p = format_small_number(p, prefix_length);
    *p++ = '\n';
    out.commit(p);
}

} // namespace

void range_list_write_cidr(output_stream& out, range_list& list)
{
    for (const ip_range& range : range_list_view(list)) {
        if (range.first == 0 && range.last == top_address) {
            write_cidr_line(out, 0, 0);
            continue;
        }
        std::uint32_t start = range.first;
        for (;;) {
            // The largest block that starts at start and does not pass the range's end.
            unsigned size_prefix = 32 - highest_bit_index(range.last - start + 1);
            unsigned prefix = std::max(size_prefix, alignment_prefix(start));
            write_cidr_line(out, start, prefix);
            std::uint32_t block_end = block_last_address(start, prefix);
            if (block_end >= range.last) break;
            start = block_end + 1;
        }
    }
}

} // namespace blockset
