#pragma once
#include <array>
#include <cstdint>
#include <cstring>

namespace blockset {

/// Longest text of an address: "255.255.255.255".
constexpr int max_address_text = 15;

/// Room format_address needs: the longest text and the one spare byte it may store past it.
constexpr int address_text_room = max_address_text + 1;

/// The text "d." of one octet, padded so that a single four-byte copy moves it.
struct octet_text {
    char text[4];
    unsigned length; // of the digits alone, without the dot
};

constexpr std::array<octet_text, 256> make_octet_texts()
{
    std::array<octet_text, 256> texts{};
    for (unsigned octet = 0; octet < 256; ++octet) {
        octet_text& entry = texts[octet];
        unsigned n = 0;
        if (octet >= 100) entry.text[n++] = static_cast<char>('0' + octet / 100);
        if (octet >= 10) entry.text[n++] = static_cast<char>('0' + octet / 10 % 10);
        entry.text[n++] = static_cast<char>('0' + octet % 10);
        entry.text[n] = '.';
        entry.length = n;
    }
    return texts;
}

inline constexpr std::array<octet_text, 256> octet_texts = make_octet_texts();

/// Writes the address as four decimal octets, highest first, and returns the end. Each
/// octet is one fixed four-byte copy, so the byte after the returned end may be written
/// too: the destination needs address_text_room bytes.
inline char* format_address(char* out, std::uint32_t address)
{
    for (int shift = 24; shift > 0; shift -= 8) {
        const octet_text& octet = octet_texts[(address >> shift) & 0xFFu];
        std::memcpy(out, octet.text, 4);
        out += octet.length + 1;
    }
    const octet_text& octet = octet_texts[address & 0xFFu];
    std::memcpy(out, octet.text, 4);
    return out + octet.length;
}

/// Writes a number from 0 to 99 in decimal and returns the end.
inline char* format_small_number(char* out, unsigned value)
{
    if (value >= 10) *out++ = static_cast<char>('0' + value / 10);
    *out++ = static_cast<char>('0' + value % 10);
    return out;
}

} // namespace blockset
