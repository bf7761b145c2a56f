#include "input/json_addresses.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <nlohmann/json.hpp>
#include <utility>

namespace blockset {

namespace {

using json = nlohmann::json;

/// Names of the one field that holds an object's address or block.
constexpr std::array<const char*, 9> address_fields = {"cidr",        "ip",      "ip_address", "ipAddress", "ip_prefix",
                                                       "ipv6_prefix", "network", "prefix",     "address"};
/// Names of the two fields that hold the ends of an object's range.
constexpr std::array<std::pair<const char*, const char*>, 3> range_fields = {
    {{"start", "end"}, {"start_ip", "end_ip"}, {"first", "last"}}};

std::string text_of(const json& value) { return value.is_string() ? value.get<std::string>() : std::string(); }

/// The address field of an object, if it has one.
bool object_address(const json& object, json_address& found)
{
    for (const char* name : address_fields) {
        auto field = object.find(name);
        if (field != object.end()) {
            found = {text_of(*field), {}};
            return true;
        }
    }
    for (auto [start, end] : range_fields) {
        auto first = object.find(start);
        auto last = object.find(end);
        if (first != object.end() && last != object.end()) {
            found = {text_of(*first), text_of(*last)};
            // An empty end would read as a single address: keep the range unreadable instead.
            if (found.last.empty()) found.first.clear();
            return true;
        }
    }
    return false;
}

/// Walks the value with a stack of its own, so that deep nesting costs no call depth.
void collect(const json& document, std::vector<json_address>& addresses)
{
    std::vector<const json*> pending{&document};
    while (!pending.empty()) {
        const json* value = pending.back();
        pending.pop_back();
        json_address found;
        if (value->is_object() && object_address(*value, found)) {
            addresses.push_back(std::move(found));
            continue;
        }
        if (!value->is_structured()) continue;
        // Children are pushed last first, so that they come out in document order.
        const std::size_t mark = pending.size();
        for (const json& child : *value) {
            if (child.is_structured()) pending.push_back(&child);
        }
        std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(mark), pending.end());
    }
}

} // namespace

json_reading json_addresses_read(std::string_view text)
{
    json_reading reading;
    try {
        json document = json::parse(text);
        reading.parsed = true;
        collect(document, reading.addresses);
    } catch (const json::parse_error& error) {
        reading.error_at = error.byte > 0 ? error.byte - 1 : 0;
    } catch (const json::exception&) {
        // A value the library cannot hold (a number out of its range, say) is damage too.
        reading.parsed = false;
    }
    return reading;
}

} // namespace blockset
