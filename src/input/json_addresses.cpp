#include "input/json_addresses.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

namespace blockset {

namespace {

using json = nlohmann::json;

/// Names of the one field that holds an object's address or block, the first found winning.
constexpr std::array<std::string_view, 9> address_fields = {"cidr",        "ip",      "ip_address", "ipAddress", "ip_prefix",
                                                             "ipv6_prefix", "network", "prefix",     "address"};
/// Names of the two fields that hold the ends of an object's range.
constexpr std::array<std::pair<std::string_view, std::string_view>, 3> range_fields = {
    {{"start", "end"}, {"start_ip", "end_ip"}, {"first", "last"}}};

constexpr std::size_t no_field = SIZE_MAX;
constexpr std::size_t field_count = address_fields.size() + 2 * range_fields.size();

/// The slot of a field name among the fields looked for, or no_field.
std::size_t field_slot(std::string_view name)
{
    for (std::size_t i = 0; i < address_fields.size(); ++i) {
        if (name == address_fields[i]) return i;
    }
    for (std::size_t i = 0; i < range_fields.size(); ++i) {
        if (name == range_fields[i].first) return address_fields.size() + 2 * i;
        if (name == range_fields[i].second) return address_fields.size() + 2 * i + 1;
    }
    return no_field;
}

bool is_json_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

/// A text whose only piece is given.
class whole_text : public json_text_source {
public:
    explicit whole_text(std::string_view text) : text_(text) {}
    std::string_view next_piece() override { return std::exchange(text_, {}); }

private:
    std::string_view text_;
};

/// The bytes of a text as the parser takes them, piece by piece. Line feeds are counted only
/// as far as a position is asked for, so that reading costs nothing for them.
class text_cursor {
public:
    explicit text_cursor(json_text_source& source) : source_(source) {}

    bool at_end() { return at_ == end_ && !fill(); }
    const char& byte() const { return *at_; }
    void advance() { ++at_; }

    /// The position of the byte at offset in the text, which is the last byte taken or one
    /// shortly before it.
    json_position position_at(std::uint64_t offset)
    {
        std::uint64_t in_piece = offset > piece_offset_ ? offset - piece_offset_ : 0;
        const char* p = begin_ + std::min<std::uint64_t>(in_piece, static_cast<std::uint64_t>(end_ - begin_));
        return position_of(p);
    }
    /// The position of the byte taken last.
    json_position last_taken() { return position_of(at_ > begin_ ? at_ - 1 : at_); }
    /// Every byte taken from the text so far.
    std::uint64_t taken() const { return piece_offset_ + static_cast<std::uint64_t>(at_ - begin_); }
    /// Notes that a string or number was just taken.
    void note_value() { value_end_ = taken(); }
    /// True when the text was cut off after a stretch too long without a string or number.
    bool stretched() const { return stretched_; }
    /// Just past the last byte taken that is not blank.
    json_position past_last_text()
    {
        const char* p = at_;
        while (p > begin_ && is_json_blank(p[-1])) --p;
        return p > begin_ ? position_of(p) : past_text_;
    }

private:
    /// Moves to the next piece; false at the end of the text.
    bool fill()
    {
        if (ended_) return false;
        // Checked a piece at a time: what the parser holds stays below the limit and a piece.
        if (taken() - value_end_ > json_address_reader::stretch_limit) {
            stretched_ = ended_ = true;
            return false;
        }
        const char* text_end = end_;
        while (text_end > begin_ && is_json_blank(text_end[-1])) --text_end;
        if (text_end > begin_) past_text_ = position_of(text_end);
        position_of(end_);
        std::string_view piece = source_.next_piece();
        piece_offset_ += static_cast<std::uint64_t>(end_ - begin_);
        begin_ = at_ = counted_ = piece.data();
        end_ = piece.data() + piece.size();
        ended_ = piece.empty();
        return !ended_;
    }

    json_position position_of(const char* p)
    {
        if (p < counted_) p = counted_;
        while (counted_ < p) {
            const void* lf = std::memchr(counted_, '\n', static_cast<std::size_t>(p - counted_));
            if (lf == nullptr) break;
            counted_ = static_cast<const char*>(lf) + 1;
            ++lines_;
            line_start_ = piece_offset_ + static_cast<std::uint64_t>(counted_ - begin_);
        }
        counted_ = p;
        return {lines_, piece_offset_ + static_cast<std::uint64_t>(p - begin_) - line_start_ + 1};
    }

    json_text_source& source_;
    const char* begin_ = nullptr;
    const char* at_ = nullptr;
    const char* end_ = nullptr;
    const char* counted_ = nullptr; // line feeds are counted up to here
    std::uint64_t piece_offset_ = 0;
    std::uint64_t lines_ = 0;
    std::uint64_t line_start_ = 0;
    json_position past_text_;
    std::uint64_t value_end_ = 0; // where the last string or number ended
    bool ended_ = false;
    bool stretched_ = false;
};

/// The cursor as the parser's input; the default one is the end.
class cursor_iterator {
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    cursor_iterator() = default;
    explicit cursor_iterator(text_cursor& cursor) : cursor_(&cursor) {}

    reference operator*() const { return cursor_->byte(); }
    cursor_iterator& operator++()
    {
        cursor_->advance();
        return *this;
    }
    cursor_iterator operator++(int)
    {
        cursor_iterator before = *this;
        cursor_->advance();
        return before;
    }
    friend bool operator==(const cursor_iterator& a, const cursor_iterator& b) { return a.ended() == b.ended(); }

private:
    bool ended() const { return cursor_ == nullptr || cursor_->at_end(); }

    text_cursor* cursor_ = nullptr;
};

/// One open object or array, and the fields looked for that an object holds so far.
struct open_value {
    bool object = false;
    std::size_t pending = no_field; // the slot of the field whose value comes next
    std::size_t first_found = 0;    // how many addresses were found before it opened
    std::uint64_t line = 0;         // where it begins
    std::array<bool, field_count> present{};
    std::array<std::string, field_count> text{};
};

} // namespace

/// Takes the parser's events and hands on the address of each object that has an address
/// field; the objects inside such an object are taken back, as they describe it.
struct json_address_reader::events : public nlohmann::json_sax<json> {
    /// Starts on a new text, read through cursor, whose addresses go to sink.
    void restart(text_cursor& cursor, json_address_sink& sink)
    {
        cursor_ = &cursor;
        sink_ = &sink;
        depth_ = 0;
        found_ = 0;
        too_deep_ = false;
        error_at_ = 0;
    }

    bool null() override { return value({}); }
    bool boolean(bool) override { return value({}); }
    bool number_integer(number_integer_t) override { return number(); }
    bool number_unsigned(number_unsigned_t) override { return number(); }
    bool number_float(number_float_t, const string_t&) override { return number(); }
    bool string(string_t& text) override
    {
        cursor_->note_value();
        return value(text);
    }
    bool binary(binary_t&) override { return value({}); }
    bool start_object(std::size_t) override { return open(true); }
    bool start_array(std::size_t) override { return open(false); }
    bool key(string_t& name) override
    {
        cursor_->note_value();
        open_[depth_ - 1].pending = field_slot(name);
        return true;
    }
    bool end_object() override
    {
        const open_value& object = open_[depth_ - 1];
        json_address found;
        if (object_address(object, found)) {
            if (found_ > object.first_found) sink_->keep_first(object.first_found);
            sink_->add(found, object.line);
            found_ = object.first_found + 1;
        }
        --depth_;
        return true;
    }
    bool end_array() override
    {
        --depth_;
        return true;
    }
    bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception&) override
    {
        error_at_ = position > 0 ? position - 1 : 0;
        return false;
    }

    bool too_deep() const { return too_deep_; }
    std::size_t error_at() const { return error_at_; }

private:
    bool number()
    {
        cursor_->note_value();
        return value({});
    }

    /// A value of the open object's pending field: kept as text when it is a string.
    bool value(std::string_view text)
    {
        if (depth_ == 0) return true;
        open_value& into = open_[depth_ - 1];
        if (into.object && into.pending != no_field && !into.present[into.pending]) {
            into.present[into.pending] = true;
            into.text[into.pending].assign(text);
        }
        return true;
    }

    bool open(bool object)
    {
        if (depth_ == depth_limit) {
            too_deep_ = true;
            return false;
        }
        value({}); // an object or array as a field's value is no address
        if (depth_ == open_.size()) open_.emplace_back();
        open_value& opened = open_[depth_++];
        opened.object = object;
        opened.pending = no_field;
        opened.first_found = found_;
        opened.line = object ? cursor_->last_taken().line : 0;
        opened.present.fill(false);
        return true;
    }

    static bool object_address(const open_value& object, json_address& found)
    {
        for (std::size_t i = 0; i < address_fields.size(); ++i) {
            if (!object.present[i]) continue;
            found = {object.text[i], {}};
            return true;
        }
        for (std::size_t i = address_fields.size(); i < field_count; i += 2) {
            if (!object.present[i] || !object.present[i + 1]) continue;
            found = {object.text[i], object.text[i + 1]};
            // An empty end would read as a single address: keep the range unreadable instead.
            if (found.last.empty()) found.first = {};
            return true;
        }
        return false;
    }

    text_cursor* cursor_ = nullptr;
    json_address_sink* sink_ = nullptr;
    std::vector<open_value> open_;
    std::size_t depth_ = 0;
    std::size_t found_ = 0; // addresses handed to the sink and not taken back
    bool too_deep_ = false;
    std::size_t error_at_ = 0;
};

json_address_reader::json_address_reader() : events_(std::make_unique<events>()) {}

json_address_reader::~json_address_reader() = default;

json_outcome json_address_reader::read(json_text_source& source, json_address_sink& sink)
{
    text_cursor cursor(source);
    events_->restart(cursor, sink);
    error_position_ = {};
    if (json::sax_parse(cursor_iterator(cursor), cursor_iterator(), events_.get())) return json_outcome::parsed;
    if (events_->too_deep() || cursor.stretched()) {
        error_position_ = cursor.last_taken();
        return events_->too_deep() ? json_outcome::too_deep : json_outcome::bare_stretch;
    }
    error_position_ = events_->error_at() >= cursor.taken() ? cursor.past_last_text() : cursor.position_at(events_->error_at());
    return json_outcome::damaged;
}

json_outcome json_address_reader::read(std::string_view text, json_address_sink& sink)
{
    whole_text source(text);
    return read(source, sink);
}

} // namespace blockset
