#pragma once
#include <cstddef>
#include <memory>
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

/// Reads JSON texts one after another, keeping its working memory between them.
class json_address_reader {
public:
    json_address_reader();
    ~json_address_reader();
    json_address_reader(const json_address_reader&) = delete;
    json_address_reader& operator=(const json_address_reader&) = delete;

    /// Reads text as one JSON value; what it returns lasts until the next read.
    const json_reading& read(std::string_view text);

private:
    struct events;
    std::unique_ptr<events> events_;
    json_reading reading_;
};

} // namespace blockset
