#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace blockset {

/// The text of one address field of a JSON object: an address or block in first, or the two
/// ends of a range (last not empty).
struct json_address {
    std::string first;
    std::string last;
};

/// The outcome of reading a JSON text.
struct json_reading {
    bool parsed = false;
    /// When it did not parse: the byte where it went wrong (at the end when it ended early).
    std::size_t error_at = 0;
    /// One entry per object that has an address field (cidr, ip, ip_address, ipAddress,
    /// ip_prefix, ipv6_prefix, network, prefix, address, or a start and end pair), in document
    /// order, found in arrays and objects at any depth. An address field whose value is not a
    /// string is kept as empty text, which reads as no address.
    std::vector<json_address> addresses;
};

/// Reads text as one JSON value.
json_reading json_addresses_read(std::string_view text);

} // namespace blockset
