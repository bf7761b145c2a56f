#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace blockset {

/// The text of one address field of a JSON object: an address or block in first, or the two
/// ends of a range (last not empty). It lasts until the sink it was handed to returns.
struct json_address {
    std::string_view first;
    std::string_view last;
};

/// The pieces of one JSON text, in order.
class json_text_source {
public:
    virtual ~json_text_source() = default;
    /// The next piece of the text (its bytes last until the next call); empty at its end.
    virtual std::string_view next_piece() = 0;
};

/// Takes the address of each object that has an address field (cidr, ip, ip_address,
/// ipAddress, ip_prefix, ipv6_prefix, network, prefix, address, or a start and end pair), in
/// document order, found in arrays and objects at any depth. An address field whose value is
/// not a string is handed on as empty text, which reads as no address.
class json_address_sink {
public:
    virtual ~json_address_sink() = default;
    /// One more address, the object holding it beginning on the given line of the text
    /// (counted from 0).
    virtual void add(const json_address& found, std::uint64_t line) = 0;
    /// Takes back every address added after the first kept ones: those of objects inside an
    /// object that turned out to have an address itself, as they only describe it.
    virtual void keep_first(std::size_t kept) = 0;
};

/// How the reading of a JSON text ended: parsed, damaged (or ended early), nested too deep, or
/// a stretch too long without a string or number in it.
enum class json_outcome { parsed, damaged, too_deep, bare_stretch };

/// Where in a JSON text something happened: its line (counted from 0) and column (from 1).
struct json_position {
    std::uint64_t line = 0;
    std::uint64_t column = 1;
};

/// Reads JSON texts one after another as a stream, keeping its working memory between them:
/// what it holds grows with the nesting (at most depth_limit levels), the longest string and
/// the longest stretch of blanks, brackets, commas and literals (at most stretch_limit
/// bytes), never with the length of the text.
class json_address_reader {
public:
    /// Objects and arrays nested deeper than this make a text unreadable: no published list
    /// nests more than a few levels, and every level costs memory.
    static constexpr std::size_t depth_limit = 512;
    /// A text that goes on for longer than this without a string or number is unreadable: the
    /// parser holds every byte since the last one, and no list is made of anything else.
    static constexpr std::uint64_t stretch_limit = std::uint64_t{1} << 20;

    json_address_reader();
    ~json_address_reader();
    json_address_reader(const json_address_reader&) = delete;
    json_address_reader& operator=(const json_address_reader&) = delete;

    /// Reads the source as one JSON value, handing each address found to sink. When the text
    /// is not parsed, the sink may have been handed addresses before the damage was seen.
    json_outcome read(json_text_source& source, json_address_sink& sink);
    /// Reads text as one JSON value, as above.
    json_outcome read(std::string_view text, json_address_sink& sink);
    /// After a read that was not parsed: where it went wrong, where the nesting went too deep
    /// or where the stretch ran too long. A text that ended early went wrong just past its last
    /// byte that is not blank.
    json_position error_position() const { return error_position_; }

private:
    struct events;
    std::unique_ptr<events> events_;
    json_position error_position_;
};

} // namespace blockset
