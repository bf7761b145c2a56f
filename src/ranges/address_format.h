#pragma once
#include <cstdint>

namespace blockset {

/// Longest text of an address: "255.255.255.255".
constexpr int max_address_text = 15;

/// Writes the address as four decimal octets, highest first, and returns the end.
inline char* format_address(char* out, std::uint32_t address)
{
    for (int shift = 24; shift >= 0; shift -= 8) {
        unsigned octet = (address >> shift) & 0xFFu;
        if (octet >= 100) {
            *out++ = static_cast<char>('0' + octet / 100);
            *out++ = static_cast<char>('0' + octet / 10 % 10);
        } else if (octet >= 10) {
            *out++ = static_cast<char>('0' + octet / 10);
        }
        *out++ = static_cast<char>('0' + octet % 10);
        if (shift != 0) *out++ = '.';
    }
    return out;
}

/// Writes a number from 0 to 99 in decimal and returns the end.
inline char* format_small_number(char* out, unsigned value)
{
    if (value >= 10) *out++ = static_cast<char>('0' + value / 10);
    *out++ = static_cast<char>('0' + value % 10);
    return out;
}

} // namespace blockset
