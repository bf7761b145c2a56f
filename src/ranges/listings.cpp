#include "ranges/listings.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "io/output_stream.h"
#include "ranges/address_format.h"
#include "ranges/range_list.h"

namespace blockset {

namespace {

/// The longest line of the address listing: "255.255.255.255\n".
constexpr std::size_t max_address_line = max_address_text + 1;

/// The text "d\n" of a last octet, padded so that one fixed-size copy moves it.
struct octet_line {
    char text[4];
    unsigned char length;
};

constexpr std::array<octet_line, 256> make_octet_lines()
{
    std::array<octet_line, 256> lines{};
    for (unsigned octet = 0; octet < 256; ++octet) {
        octet_line& line = lines[octet];
        unsigned n = 0;
        if (octet >= 100) line.text[n++] = static_cast<char>('0' + octet / 100);
        if (octet >= 10) line.text[n++] = static_cast<char>('0' + octet / 10 % 10);
        line.text[n++] = static_cast<char>('0' + octet % 10);
        line.text[n++] = '\n';
        line.length = static_cast<unsigned char>(n);
    }
    return lines;
}

constexpr std::array<octet_line, 256> octet_lines = make_octet_lines();

/// Writes one line per address of first..last, which lie in one /24 block. The text
/// "a.b.c." is formatted once; each line is that prefix and the last octet's line, both
/// moved by fixed-size copies. A prefix is at most 12 bytes and an octet line at most 4,
/// so no copy reaches past the 16 bytes a line may take.
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
            std::memcpy(p, octet_lines[octet].text, sizeof octet_lines[octet].text);
            p += octet_lines[octet].length;
        }
        out.commit(p);
        if (chunk_end == last_octet) return;
    }
}

} // namespace

void range_list_write_ranges(output_stream& out, const range_list& list)
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

void range_list_write_addresses(output_stream& out, const range_list& list)
{
    for (const ip_range& range : range_list_view(list)) {
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

void range_list_write_count(output_stream& out, const range_list& list)
{
    std::uint64_t blocks = 0;
    std::uint64_t addresses = 0;
    auto view = range_list_view(list);
    for (const ip_range& range : view) {
        addresses += std::uint64_t{range.last} - range.first + 1;
        if (range.first == 0 && range.last == top_address) {
            ++blocks;
            continue;
        }
        // The same blocks as the CIDR listing: the largest aligned one at each start.
        std::uint32_t start = range.first;
        for (;;) {
            unsigned prefix = std::max(32 - highest_bit_index(range.last - start + 1), alignment_prefix(start));
            ++blocks;
            std::uint32_t block_end = block_last_address(start, prefix);
            if (block_end >= range.last) break;
            start = block_end + 1;
        }
    }
    char line[64];
    int length = std::snprintf(line, sizeof line, "%zu %llu %llu\n", view.size(),
                               static_cast<unsigned long long>(blocks), static_cast<unsigned long long>(addresses));
    out.write({line, static_cast<std::size_t>(length)});
}

} // namespace blockset
