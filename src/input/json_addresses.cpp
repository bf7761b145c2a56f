#include "input/json_addresses.h"

#include <array>
#include <cstddef>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>

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

/// One open object or array, and the fields looked for that an object holds so far.
struct open_value {
    bool object = false;
    std::size_t pending = no_field; // the slot of the field whose value comes next
    std::size_t first_found = 0;    // where the addresses found inside it start
    std::array<bool, field_count> present{};
    std::array<std::string, field_count> text{};
};

} // namespace

/// Takes the parser's events and keeps the address of each object that has an address field;
/// the objects inside such an object are not looked at, as they describe it.
struct json_address_reader::events : public nlohmann::json_sax<json> {
    /// Starts on a new text, whose addresses go to reading.
    void restart(json_reading& reading)
    {
        reading_ = &reading;
        depth_ = 0;
    }

    bool null() override { return value({}); }
    bool boolean(bool) override { return value({}); }
    bool number_integer(number_integer_t) override { return value({}); }
    bool number_unsigned(number_unsigned_t) override { return value({}); }
    bool number_float(number_float_t, const string_t&) override { return value({}); }
    bool string(string_t& text) override { return value(text); }
    bool binary(binary_t&) override { return value({}); }
    bool start_object(std::size_t) override { return open(true); }
    bool start_array(std::size_t) override { return open(false); }
    bool key(string_t& name) override
    {
        open_[depth_ - 1].pending = field_slot(name);
        return true;
    }
    bool end_object() override
    {
        open_value& object = open_[depth_ - 1];
        json_address found;
        if (object_address(object, found)) {
            reading_->addresses.resize(object.first_found);
            reading_->addresses.push_back(std::move(found));
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
        reading_->error_at = position > 0 ? position - 1 : 0;
        return false;
    }

private:
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
        value({}); // an object or array as a field's value is no address
        if (depth_ == open_.size()) open_.emplace_back();
        open_value& opened = open_[depth_++];
        opened.object = object;
        opened.pending = no_field;
        opened.first_found = reading_->addresses.size();
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
            if (found.last.empty()) found.first.clear();
            return true;
        }
        return false;
    }

    json_reading* reading_ = nullptr;
    std::vector<open_value> open_;
    std::size_t depth_ = 0;
};

json_address_reader::json_address_reader() : events_(std::make_unique<events>()) {}

json_address_reader::~json_address_reader() = default;

const json_reading& json_address_reader::read(std::string_view text)
{
    reading_.parsed = false;
    reading_.error_at = 0;
    reading_.addresses.clear();
    events_->restart(reading_);
    reading_.parsed = json::sax_parse(text.begin(), text.end(), events_.get());
    if (!reading_.parsed) reading_.addresses.clear();
    return reading_;
}

} // namespace blockset
