#include "triage/list_search.h"

#include <algorithm>
#include <charconv>
#include <span>
#include <string>

#include "input/auto_list.h"
#include "input/list_entry.h"
#include "input/p2b_reader.h"
#include "input/text_list.h"
#include "io/output_stream.h"
#include "io/process.h"

namespace blockset {

namespace {

/// True when one of the ranges, sorted and disjoint, meets first..last.
template <typename range, typename address>
bool meets(std::span<const range> ranges, address first, address last)
{
    auto after = std::partition_point(ranges.begin(), ranges.end(), [&](const range& r) { return r.last < first; });
    return after != ranges.end() && after->first <= last;
}

/// Writes the entries that hold an address of the items.
class entry_matcher : public entry_consumer {
public:
    entry_matcher(search_items& items, const char* path, output_stream& out)
        : ipv4_(range_list_view(items.ipv4)), ipv6_(ipv6_list_view(items.ipv6)), path_(path), out_(out)
    {
    }

    void take(ip_range range, std::uint64_t line, std::string_view text) override
    {
        if (meets(ipv4_, range.first, range.last)) write(line, text);
    }

    void take_ipv6(const ipv6_range& range, std::uint64_t line, std::string_view text) override
    {
        if (meets(ipv6_, range.first, range.last)) write(line, text);
    }

    std::uint64_t written() const { return written_; }

private:
    void write(std::uint64_t line, std::string_view text)
    {
        // A host name hands on its addresses one by one, with the same line and text.
        if (written_ != 0 && line == last_line_ && text == last_text_) return;
        ++written_;
        last_line_ = line;
        last_text_.assign(text);
        char number[24];
        out_.write(path_);
        out_.put(':');
        out_.write({number, static_cast<std::size_t>(std::to_chars(number, number + sizeof number, line).ptr - number)});
        out_.put(':');
        out_.write(text);
        out_.put('\n');
    }

    std::span<const ip_range> ipv4_;
    std::span<const ipv6_range> ipv6_;
    std::string_view path_;
    output_stream& out_;
    std::uint64_t written_ = 0;
    std::uint64_t last_line_ = 0;
    std::string last_text_;
};

} // namespace

bool search_items_add(search_items& items, std::string_view text)
{
    auto_entry item = auto_entry_read(text);
    if (item.kind == auto_entry::ipv4) range_list_insert(items.ipv4, item.range);
    if (item.kind == auto_entry::ipv6) ipv6_list_insert(items.ipv6, item.range6);
    return item.kind != auto_entry::none;
}

std::uint64_t list_search(search_items& items, std::string_view type, const char* path, output_stream& out)
{
    entry_matcher matcher(items, path, out);
    int result = 0;
    if (type == "p2b") {
        result = p2b_search(path, matcher);
    } else if (type == "text") {
        result = text_list_search(path, matcher);
    } else {
        result = auto_list_search(path, matcher);
    }
    if (result != 0) note_data_error();
    return matcher.written();
}

} // namespace blockset
