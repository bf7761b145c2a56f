#include "input/entry_literals.h"

#include <arpa/inet.h>
#include <cstdint>
#include <netdb.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>

#include "input/resolver.h"
#include "io/diagnostics.h"
#include "ranges/range_list.h"

namespace blockset {

namespace {

/// Reads numbers separated by fixed punctuation the way sscanf reads "%d<sep>%d...":
/// each number may follow blanks and carry a sign, a separator must match exactly, and
/// reading stops at the first mismatch. Text after the last number is ignored.
class number_reader {
public:
    explicit number_reader(std::string_view text) : at_(text.data()), end_(text.data() + text.size()) {}

    /// Reads one decimal number. Leading zeros do not make it octal; a value too large for
    /// an int is kept saturated, so it fails every bound check just the same.
    bool number(std::int64_t& value)
    {
        bool negative = false;
        if (at_ < end_ && !is_decimal(*at_)) {
            // Literals from a scanner never take this path; other texts are read like sscanf.
            while (at_ < end_ && is_blank(*at_)) ++at_;
            if (at_ < end_ && (*at_ == '-' || *at_ == '+')) negative = *at_++ == '-';
        }
        if (at_ >= end_ || !is_decimal(*at_)) return false;
        std::int64_t magnitude = 0;
        do {
            if (magnitude < saturated) magnitude = magnitude * 10 + (*at_ - '0');
        } while (++at_ < end_ && is_decimal(*at_));
        value = negative ? -magnitude : magnitude;
        return true;
    }

    bool separator(char expected)
    {
        if (at_ >= end_ || *at_ != expected) return false;
        ++at_;
        return true;
    }

private:
    static constexpr std::int64_t saturated = std::int64_t{1} << 40;
    static bool is_blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
    static bool is_decimal(char c) { return static_cast<unsigned char>(c - '0') < 10; }

    const char* at_;
    const char* end_;
};

/// A number read as a signed int and compared as unsigned: negative values fail too.
bool below(std::int64_t value, std::uint32_t bound)
{
    return value >= 0 && value < bound;
}

/// Reads a dotted quad whose four numbers are each below 256.
bool read_address(number_reader& in, std::uint32_t& address)
{
    address = 0;
    for (int group = 0; group < 4; ++group) {
        std::int64_t value;
        if (group > 0 && !in.separator('.')) return false;
        if (!in.number(value) || !below(value, 256)) return false;
        address = (address << 8) | static_cast<std::uint32_t>(value);
    }
    return true;
}

/// The common shape of a dotted quad, four groups of one to three digits, read without the
/// general reader's blanks, signs and saturation. Returns false, leaving at untouched,
/// whenever the text takes another shape; the general reader then decides.
bool read_plain_address(const char*& at, const char* end, std::uint32_t& address)
{
    const char* p = at;
    std::uint32_t result = 0;
    for (int group = 0; group < 4; ++group) {
        if (group > 0) {
            if (p == end || *p != '.') return false;
            ++p;
        }
        unsigned value = 0;
        int digits = 0;
        while (p != end && static_cast<unsigned char>(*p - '0') < 10) {
            if (++digits > 3) return false;
            value = value * 10 + static_cast<unsigned>(*p++ - '0');
        }
        if (digits == 0 || value > 255) return false;
        result = (result << 8) | value;
    }
    at = p;
    address = result;
    return true;
}

} // namespace

void add_range_literal(range_list& list, std::string_view text)
{
    const char* at = text.data();
    const char* end = at + text.size();
    std::uint32_t plain_first, plain_last;
    if (read_plain_address(at, end, plain_first) && at != end && *at++ == '-' &&
        read_plain_address(at, end, plain_last)) {
        range_list_add_range(list, plain_first, plain_last);
        return;
    }
    number_reader in(text);
    std::uint32_t first, last;
    if (!read_address(in, first) || !in.separator('-') || !read_address(in, last)) return;
    // A reversed pair is handed on as written; the list makes nothing of it.
    range_list_add_range(list, first, last);
}

void add_cidr_literal(range_list& list, std::string_view text)
{
    const char* at = text.data();
    const char* end = at + text.size();
    std::uint32_t plain_address;
    if (read_plain_address(at, end, plain_address) && end - at >= 2 && end - at <= 3 && *at == '/') {
        unsigned prefix_length = 0;
        bool digits = true;
        for (const char* p = at + 1; p != end; ++p) {
            if (static_cast<unsigned char>(*p - '0') >= 10) digits = false;
            prefix_length = prefix_length * 10 + static_cast<unsigned>(*p - '0');
        }
        if (digits && prefix_length <= 32) {
            range_list_add_cidr(list, plain_address, prefix_length);
            return;
        }
    }
    number_reader in(text);
    std::uint32_t address;
    std::int64_t prefix_length;
    if (!read_address(in, address) || !in.separator('/') || !in.number(prefix_length) ||
        !below(prefix_length, 33))
        return;
    range_list_add_cidr(list, address, static_cast<unsigned>(prefix_length));
}

void add_address_literal(range_list& list, std::string_view text)
{
    const char* at = text.data();
    std::uint32_t plain_address;
    if (read_plain_address(at, at + text.size(), plain_address)) {
        range_list_add_cidr(list, plain_address, 32);
        return;
    }
    number_reader in(text);
    std::uint32_t address;
    if (read_address(in, address)) range_list_add_cidr(list, address, 32);
}

void host_lookup(range_list& list, std::string_view host_name)
{
    // The resolver wants a terminated name; a scanner's text is a view into its buffer.
    std::string name(host_name);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = 0;
    hints.ai_protocol = 0;
    addrinfo* result = nullptr;
    const resolver& system = current_resolver();
    int code = system.lookup(name.c_str(), nullptr, &hints, &result);
    if (code != 0) {
        diagnostic("Host lookup for host '%s' failed: %s\n", name.c_str(), gai_strerror(code));
        return;
    }
    for (const addrinfo* entry = result; entry != nullptr; entry = entry->ai_next) {
        const auto* socket_address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
        range_list_add_cidr(list, ntohl(socket_address->sin_addr.s_addr), 32);
    }
    system.release(result);
}

} // namespace blockset
