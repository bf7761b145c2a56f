#include "input/auto_list.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>
#include <unistd.h>
#include <zlib.h>

#include "input/delimited_fields.h"
#include "input/dotted_quad.h"
#include "input/gzip_input.h"
#include "input/ipv6_literal.h"
#include "input/json_addresses.h"
#include "input/line_splitter.h"
#include "input/list_entry.h"
#include "input/p2b_reader.h"
#include "io/diagnostics.h"
#include "io/process.h"
#include "parallel/lines_ahead.h"
#include "ranges/cidr.h"
#include "ranges/ipv6_list.h"
#include "ranges/range_list.h"

namespace blockset {

namespace {

/// No stop for the line splitter: no lines are read ahead.
constexpr std::uint64_t no_stop = UINT64_MAX;
/// Plain files from this size up have their second half read ahead on a second processor.
constexpr std::size_t smallest_file_ahead = std::size_t{1} << 20;

/// How much of an unreadable line its message shows.
constexpr std::size_t shown_text_limit = 60;
/// Unreadable lines reported one by one per input; the rest are only counted.
constexpr std::uint64_t reported_line_limit = 10;

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_line_end(char c) { return c == '\n' || c == '\r'; }

bool starts_comment(const char* p, const char* end)
{
    return *p == '#' || *p == ';' || (*p == '/' && p + 1 < end && p[1] == '/');
}

/// An entry ends at the end of its line, at a blank or where a comment starts.
bool ends_entry(const char* p, const char* end)
{
    return p == end || is_blank(*p) || is_line_end(*p) || starts_comment(p, end);
}

const char* skip_blanks(const char* p, const char* end)
{
    while (p < end && is_blank(*p)) ++p;
    return p;
}

/// An in-bounds dotted quad at p: its end, or null.
const char* read_address(const char* p, const char* end, std::uint32_t& address)
{
    dotted_quad quad = read_dotted_quad({p, static_cast<std::size_t>(end - p)});
    if (quad.length == 0 || !quad.in_bounds) return nullptr;
    address = quad.address;
    return p + quad.length;
}

struct entry {
    bool read = false;
    ip_range range{0, 0};
    const char* end = nullptr;
};

/// "/n" or "/m.m.m.m" after a block's address at p; the host bits of the address are cleared.
entry read_block(const char* p, const char* end, std::uint32_t address)
{
    std::string_view rest{p, static_cast<std::size_t>(end - p)};
    unsigned prefix = 0;
    dotted_quad mask = read_dotted_quad(rest);
    if (mask.length != 0) {
        // A contiguous mask's host part is one less than a power of two.
        std::uint32_t host = ~mask.address;
        if (!mask.in_bounds || (host & (host + 1)) != 0) return {};
        prefix = static_cast<unsigned>(std::popcount(mask.address));
        p += mask.length;
    } else {
        prefix_digits digits = read_prefix_digits(rest);
        if (digits.length == 0 || digits.value > 32) return {};
        prefix = digits.value;
        p += digits.length;
    }
    if (!ends_entry(p, end)) return {};
    std::uint32_t first = address & mask_table[prefix];
    return {true, {first, block_last_address(first, prefix)}, p};
}

/// The entry at p, which is neither blank nor a comment. With ranges_only, only "a-b" and
/// "a - b" are taken (the part of a P2P line after its name).
entry read_entry(const char* p, const char* end, bool ranges_only)
{
    std::uint32_t first = 0;
    const char* after = read_address(p, end, first);
    if (after == nullptr) return {};
    if (!ranges_only && after < end && *after == '/' && !starts_comment(after, end)) {
        return read_block(after + 1, end, first);
    }
    const char* next = skip_blanks(after, end);
    if (next < end && *next == '-') {
        std::uint32_t last = 0;
        const char* stop = read_address(skip_blanks(next + 1, end), end, last);
        if (stop == nullptr || !ends_entry(stop, end)) return {};
        return {true, {first, last}, stop};
    }
    if (ranges_only || !ends_entry(after, end)) return {};
    if (next > after) {
        // Start and end as the first two fields; any other second field is a label.
        dotted_quad second = read_dotted_quad({next, static_cast<std::size_t>(end - next)});
        if (second.length != 0 && ends_entry(next + second.length, end)) {
            if (!second.in_bounds) return {};
            return {true, {first, second.address}, next + second.length};
        }
    }
    return {true, {first, first}, after};
}

/// "name:a-b", where the name may hold ':' too: the range follows the last one.
entry read_p2p_entry(const char* p, const char* end)
{
    const char* cut = p;
    while (cut < end && !starts_comment(cut, end)) ++cut;
    const char* colon = nullptr;
    for (const char* at = p; at < cut; ++at) {
        if (*at == ':') colon = at;
    }
    if (colon == nullptr) return {};
    const char* start = skip_blanks(colon + 1, cut);
    if (start == cut) return {};
    return read_entry(start, cut, true);
}

/// The text of a line as a message shows it: at most 60 bytes, with backslashes and bytes
/// that are not printable ASCII written as escapes, so the message stays one safe line.
std::string shown_text(const char* p, const char* end)
{
    while (end > p && is_blank(end[-1])) --end;
    if (static_cast<std::size_t>(end - p) > shown_text_limit) end = p + shown_text_limit;
    std::string text;
    for (; p < end; ++p) {
        auto byte = static_cast<unsigned char>(*p);
        if (byte == '\\') {
            text += "\\\\";
        } else if (byte >= 0x20 && byte < 0x7F) {
            text += static_cast<char>(byte);
        } else {
            static const char hex[] = "0123456789abcdef";
            text += "\\x";
            text += hex[byte >> 4];
            text += hex[byte & 0xF];
        }
    }
    return text;
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
    return text;
}

/// What a field (a column, a JSON value, a record's word) holds: one address, another entry
/// (a block or range), an IPv6 entry, or none of these.
struct field_entry {
    enum { none, address, entry, ipv6 } kind = none;
    ip_range range{0, 0};
    ipv6_range range6{0, 0}; ///< when kind is ipv6
    bool single = false;     ///< an IPv6 entry of one address written alone
};

/// The field, trimmed and not an IPv4 entry, as one IPv6 entry with nothing else in it. An
/// IPv4-mapped entry is the IPv4 entry it carries. Text that is no such entry (a time of day,
/// say) holds none.
field_entry read_ipv6_field(std::string_view field)
{
    ipv6_entry found = read_ipv6_entry(field);
    if (found.length != field.size()) return {};
    bool alone = field.find_first_of("/- \t") == std::string_view::npos;
    field_entry result;
    if (found.kind == ipv6_entry_kind::ipv4) {
        result.kind = alone ? field_entry::address : field_entry::entry;
        result.range = found.ipv4_range;
    } else if (found.kind == ipv6_entry_kind::ipv6) {
        result.kind = field_entry::ipv6;
        result.range6 = found.range;
        result.single = alone;
    }
    return result;
}

/// Joins a field holding one address with the next one, when that holds one address of the
/// same family too, into the range from the first to the second. False for a reversed pair.
bool join_address_fields(field_entry& first, const field_entry& last)
{
    if (first.kind == field_entry::address && last.kind == field_entry::address) {
        if (last.range.first < first.range.first) return false;
        first.kind = field_entry::entry;
        first.range.last = last.range.first;
    } else if (first.kind == field_entry::ipv6 && first.single && last.kind == field_entry::ipv6 && last.single) {
        if (last.range6.first < first.range6.first) return false;
        first.single = false;
        first.range6.last = last.range6.first;
    }
    return true;
}

/// The field as one entry, with nothing else in it.
field_entry read_field(std::string_view field)
{
    field = trimmed(field);
    // An empty field holds no entry (and its text may have no memory behind it at all).
    if (field.empty()) return {};
    const char* p = field.data();
    const char* end = p + field.size();
    std::uint32_t first = 0;
    const char* after = read_address(p, end, first);
    if (after == end) return {field_entry::address, {first, first}};
    if (after != nullptr) {
        entry found = read_entry(p, end, false);
        if (!found.read || found.end != end || found.range.first > found.range.last) return {};
        return {field_entry::entry, found.range};
    }
    return read_ipv6_field(field);
}

/// The entry of a JSON object's address field or fields, or none.
field_entry read_json_address(const json_address& found)
{
    field_entry first = read_field(found.first);
    if (found.last.empty()) return first;
    field_entry last = read_field(found.last);
    bool both_addresses = (first.kind == field_entry::address && last.kind == field_entry::address) || (first.single && last.single);
    if (!both_addresses || !join_address_fields(first, last)) return {};
    return first;
}

/// The entries of one JSON text, held until the text has parsed: what an object adds, and
/// the addresses that cannot be read, the first few kept as messages show them.
class json_entries : public json_address_sink {
public:
    /// One entry with its line and text, kept for a consumer.
    struct described {
        field_entry entry;
        std::uint64_t line = 0;
        std::string text;
    };

    /// Keeps each entry's line and text too, in order.
    void describe_entries() { describing_ = true; }

    void clear()
    {
        entries.clear();
        kinds_.clear();
        ipv4.clear();
        ipv6.clear();
        unreadable = 0;
        shown.clear();
    }

    void add(const json_address& found, std::uint64_t line) override
    {
        field_entry entry = read_json_address(found);
        kinds_.push_back(static_cast<unsigned char>(entry.kind));
        if (entry.kind == field_entry::none && ++unreadable <= reported_line_limit) {
            shown.push_back(shown_text(found.first.data(), found.first.data() + found.first.size()));
        }
        if (describing_) {
            entries.push_back({entry, line, std::string(found.first)});
            if (!found.last.empty()) entries.back().text.append("-").append(found.last);
        } else if (entry.kind == field_entry::ipv6) {
            ipv6.push_back(entry.range6);
        } else if (entry.kind != field_entry::none) {
            ipv4.push_back(entry.range);
        }
    }

    void keep_first(std::size_t kept) override
    {
        for (std::size_t i = kept; i < kinds_.size(); ++i) {
            if (kinds_[i] == field_entry::none) {
                --unreadable;
            } else if (describing_) {
                continue;
            } else if (kinds_[i] == field_entry::ipv6) {
                ipv6.pop_back();
            } else {
                ipv4.pop_back();
            }
        }
        kinds_.resize(kept);
        if (describing_) entries.resize(kept);
        if (shown.size() > unreadable) shown.resize(unreadable);
    }

    std::vector<ip_range> ipv4;    ///< what the entries add, when they are not described
    std::vector<ipv6_range> ipv6;
    std::uint64_t unreadable = 0;
    std::vector<std::string> shown; ///< the first of the unreadable addresses, as shown
    std::vector<described> entries;  ///< every entry, in document order, when described

private:
    std::vector<unsigned char> kinds_; ///< the kind of each entry, in document order
    bool describing_ = false;
};

/// The bytes of a JSON document: those of its lines taken already, then the rest of the
/// stream, a block of lines at a time. It ends early at a line too long to hold, which a
/// JSON document must not have: its strings would have to be held whole.
class document_source : public json_text_source {
public:
    document_source(const std::string& start, line_splitter& splitter) : start_(start), splitter_(splitter) {}

    std::string_view next_piece() override
    {
        if (!started_) {
            started_ = true;
            if (!start_.empty()) return start_;
        }
        while (overlong_.empty() && !splitter_.ended()) {
            line_block block = splitter_.next(no_stop);
            overlong_ = block.overlong;
            if (block.lines.empty()) continue;
            line_feeds_ += static_cast<std::uint64_t>(std::count(block.lines.begin(), block.lines.end(), '\n'));
            return block.lines;
        }
        return {};
    }

    /// The start of the line too long to hold that ended the document, or empty.
    std::string_view overlong() const { return overlong_; }
    /// Line feeds in the blocks taken from the stream.
    std::uint64_t line_feeds() const { return line_feeds_; }

private:
    const std::string& start_;
    line_splitter& splitter_;
    bool started_ = false;
    std::string_view overlong_;
    std::uint64_t line_feeds_ = 0;
};

/// What a line holds.
struct line_content {
    enum { nothing, adds, ipv6, unreadable } kind = nothing;
    ip_range range{0, 0};     ///< what it adds to the IPv4 list
    ipv6_range range6{0, 0}; ///< what it adds to the IPv6 list
    /// Where its text starts, past the blanks, and where its line end is (or region_end).
    const char* text = nullptr;
    const char* end = nullptr;
    /// The entry's own text, past what surrounds it, when it adds something.
    std::string_view entry;
};

/// The line at p, which ends at a line end before region_end or at region_end itself.
line_content read_line(const char* p, const char* region_end)
{
    line_content line;
    line.text = p = skip_blanks(p, region_end);
    entry found;
    bool empty = p == region_end || is_line_end(*p) || starts_comment(p, region_end);
    if (!empty) found = read_entry(p, region_end, false);
    const char* line_end = found.read ? found.end : p;
    while (line_end < region_end && !is_line_end(*line_end)) ++line_end;
    line.end = line_end;
    if (empty) return line;
    if (!found.read) {
        found = read_p2p_entry(p, line_end);
        if (!found.read) {
            ipv6_entry v6 = read_ipv6_entry({p, static_cast<std::size_t>(line_end - p)});
            if (v6.kind == ipv6_entry_kind::ipv6) {
                line.kind = line_content::ipv6;
                line.range6 = v6.range;
                line.entry = {p, v6.length};
                return line;
            }
            if (v6.kind == ipv6_entry_kind::ipv4) found = {true, v6.ipv4_range, p + v6.length};
        }
    }
    // A reversed range denotes no addresses: most likely a mistake in the list.
    if (found.read && found.range.first <= found.range.last) {
        line.kind = line_content::adds;
        line.range = found.range;
        line.entry = {p, static_cast<std::size_t>(found.end - p)};
    } else {
        line.kind = line_content::unreadable;
    }
    return line;
}

/// The reader of lines read ahead on a second processor: the lines at the start of held
/// whose line end is in view (a carriage return with a byte after it), up to the first that
/// cannot be read, which the main thread reads and reports, or holds an IPv6 entry there is
/// no room for.
plain_lines read_lines_ahead(std::string_view held, range_run& add)
{
    const char* const start = held.data();
    const char* const end = start + held.size();
    plain_lines taken;
    const char* p = start;
    while (p < end) {
        line_content line = read_line(p, end);
        if (end - line.end < 2 || line.kind == line_content::unreadable) break;
        if (line.kind == line_content::ipv6 && !add.add_ipv6(line.range6)) break;
        if (line.kind == line_content::adds) add(line.range.first, line.range.last);
        p = line.end + 1;
        if (line.end[0] == '\r' && *p == '\n') ++p;
        taken.bytes = static_cast<std::size_t>(p - start);
        ++taken.line_feeds;
    }
    return taken;
}

bool starts_with(std::string_view text, std::string_view start) { return text.substr(0, start.size()) == start; }

bool starts_json(std::string_view text) { return !text.empty() && (text[0] == '{' || text[0] == '['); }

/// Reads the lines of one input by their shape and reports what it cannot read. Lines are
/// read as plain lines first; a line they cannot read may show the shape of the rest: a
/// header row over delimited rows, a Tor exit record, a JSON value on one line, or the start
/// of a JSON document, which is then read whole.
class line_reader {
public:
    /// The entries go to consumer instead of the lists when it is not null.
    line_reader(const char* shown, range_list& list, ipv6_list& ipv6, entry_consumer* consumer)
        : shown_(shown), list_(list), ipv6_(ipv6), consumer_(consumer)
    {
        if (consumer_ != nullptr) json_entries_.describe_entries();
    }

    /// Handles the line at p, which ends at a line end before lines_end or at lines_end
    /// itself; returns the start of the next line.
    const char* handle_line(const char* p, const char* lines_end)
    {
        ++line_number_;
        if (shape_ == shape::json_document) return take_document_line(p, lines_end);
        if (shape_ == shape::json_lines) {
            if (const char* next = take_json_line(p, lines_end)) return next;
        }
        if (shape_ == shape::delimited) {
            if (const char* next = take_row(p, lines_end)) return next;
        }
        line_content line = read_line(p, lines_end);
        const char* next = line_splitter_step(line.end, lines_end);
        if (line.kind == line_content::nothing) return next;
        const bool first = !content_seen_;
        content_seen_ = true;
        if (line.kind == line_content::unreadable) {
            std::string_view text = trimmed({line.text, static_cast<std::size_t>(line.end - line.text)});
            if (first && starts_json(text)) return start_json(text, p, next);
            line.kind = read_other_shape(text, first, line);
        }
        count_line(line);
        return next;
    }

    /// Counts lines read by the second processor, which found entries in some of them.
    void count_lines(std::uint64_t lines, std::size_t entries)
    {
        line_number_ += lines;
        entries_ += entries;
    }

    /// A line too long to hold: reported from its start (its rest is dropped unread), unless
    /// it is a comment. A JSON value on such a line is refused too: its strings would have to
    /// be held whole.
    void handle_overlong_line(const char* p, const char* end)
    {
        ++line_number_;
        p = skip_blanks(p, end);
        content_seen_ = true;
        if (!starts_comment(p, end)) report_unreadable(p, end);
    }

    /// True once the lines have shown a shape of their own, which only this reader reads.
    bool shape_found() const { return shape_ != shape::lines; }
    /// True once a JSON document has begun, which the rest of the input belongs to.
    bool document_begun() const { return shape_ == shape::json_document; }

    /// Reads the JSON document begun to its end, from the lines taken so far on through the
    /// rest of the stream, as a stream; its entries are added only when the whole of it
    /// parsed. When the stream breaks, nothing is reported here.
    void read_document(line_splitter& splitter)
    {
        document_source source(document_, splitter);
        json_outcome outcome = json_.read(source, json_entries_);
        document_.clear();
        document_.shrink_to_fit();
        if (splitter.failed()) return;
        if (!source.overlong().empty()) {
            line_number_ += source.line_feeds() + 1;
            const char* p = skip_blanks(source.overlong().data(), source.overlong().data() + source.overlong().size());
            report_unreadable(p, source.overlong().data() + source.overlong().size());
        } else if (outcome == json_outcome::too_deep) {
            damaged_ = true;
            static_assert(json_address_reader::depth_limit == 512, "the message names the limit");
            diagnostic("'%s' line %ld: JSON nested deeper than 512 levels\n", shown_,
                       static_cast<long>(document_line_ + json_.error_position().line));
        } else if (outcome == json_outcome::bare_stretch) {
            damaged_ = true;
            static_assert(json_address_reader::stretch_limit == 1048576, "the message names the limit");
            diagnostic("'%s' line %ld: JSON without a string or number for over 1048576 bytes\n", shown_,
                       static_cast<long>(document_line_ + json_.error_position().line));
        } else if (outcome == json_outcome::damaged) {
            damaged_ = true;
            diagnostic("'%s' line %ld: damaged JSON at column %ld\n", shown_,
                       static_cast<long>(document_line_ + json_.error_position().line), static_cast<long>(json_.error_position().column));
        } else {
            add_json_entries(document_line_);
            for (const std::string& text : json_entries_.shown) {
                if (++unreadable_lines_ <= reported_line_limit) diagnostic("'%s': cannot read address '%s'\n", shown_, text.c_str());
            }
            unreadable_lines_ += json_entries_.unreadable - json_entries_.shown.size();
        }
    }

    /// Reports what was only counted. True when every line was readable and something was
    /// read; read_failed tells that the input was not read to its end (which was reported).
    bool finish(bool read_failed)
    {
        if (unreadable_lines_ > reported_line_limit) {
            diagnostic("'%s': unreadable lines not shown: %ld\n", shown_,
                       static_cast<long>(unreadable_lines_ - reported_line_limit));
        }
        bool complete = unreadable_lines_ == 0 && !damaged_;
        // A list that lost every entry at its source looks like an empty one: a table filled
        // from it would be emptied.
        if (complete && !read_failed && entries_ == 0) {
            diagnostic("'%s': no addresses\n", shown_);
            return false;
        }
        return complete;
    }

private:
    enum class shape { lines, delimited, tor, json_lines, json_document };

    void count_line(const line_content& line)
    {
        if (line.kind == line_content::adds) {
            if (consumer_ != nullptr) {
                consumer_->take(line.range, line_number_, line.entry);
            } else {
                range_list_insert(list_, line.range);
            }
            ++entries_;
        } else if (line.kind == line_content::ipv6) {
            if (consumer_ != nullptr) {
                consumer_->take_ipv6(line.range6, line_number_, line.entry);
            } else {
                ipv6_list_insert(ipv6_, line.range6);
            }
            ++entries_;
        } else if (line.kind == line_content::unreadable) {
            report_unreadable(line.text, line.end);
        }
    }

    /// A line of another shape than plain lines (text trimmed), or an unreadable line.
    decltype(line_content::kind) read_other_shape(std::string_view text, bool first, line_content& line)
    {
        if (shape_ == shape::tor || (first && starts_with(text, "ExitNode "))) {
            shape_ = shape::tor;
            return read_tor_record(text, line);
        }
        if (starts_json(text)) return read_json_line(text);
        return read_row(text, first, line);
    }

    /// Tor's exit records: an "ExitAddress" line gives an address; the others are skipped.
    static decltype(line_content::kind) read_tor_record(std::string_view text, line_content& line)
    {
        for (std::string_view skipped : {"ExitNode ", "Published ", "LastStatus "}) {
            if (starts_with(text, skipped)) return line_content::nothing;
        }
        std::string_view word = "ExitAddress ";
        if (!starts_with(text, word)) return line_content::unreadable;
        text = trimmed(text.substr(word.size()));
        line.entry = text.substr(0, text.find_first_of(" \t"));
        return kind_of(read_field(line.entry), line);
    }

    /// A row of delimited fields: the first field that holds an entry is the entry, joined
    /// with the next into a range when both are addresses. The first row holding none is a
    /// header, whose delimiter the rows after it are read by.
    decltype(line_content::kind) read_row(std::string_view text, bool first, line_content& line)
    {
        char delimiter = delimiter_ != 0 ? delimiter_ : delimited_fields_delimiter(text);
        if (delimiter == 0 || !delimited_fields_split(text, delimiter, fields_)) return line_content::unreadable;
        for (std::size_t i = 0; i < fields_.size(); ++i) {
            field_entry found = read_field(fields_[i]);
            if (found.kind == field_entry::none) continue;
            // Only a search hands the entry's text on; a load leaves it unmade.
            if (consumer_ != nullptr) line.entry = trimmed(fields_[i]);
            if (i + 1 < fields_.size() && (found.kind == field_entry::address || found.single)) {
                const field_entry alone = found;
                if (!join_address_fields(found, read_field(fields_[i + 1]))) return line_content::unreadable;
                bool joined = found.kind != alone.kind || found.single != alone.single;
                if (joined && consumer_ != nullptr) line.entry = joined_fields(i, delimiter);
            }
            return kind_of(found, line);
        }
        if (!first || !is_header(fields_)) return line_content::unreadable;
        shape_ = shape::delimited;
        delimiter_ = delimiter;
        return line_content::nothing;
    }

    /// The text of the two fields from i on that make one range, as the row writes them.
    std::string_view joined_fields(std::size_t i, char delimiter)
    {
        entry_text_.assign(trimmed(fields_[i])).push_back(delimiter);
        entry_text_.append(trimmed(fields_[i + 1]));
        return entry_text_;
    }

    /// Column names: a field that starts with a digit is rather a damaged entry (such as
    /// 192.0.2.300), which is reported, not skipped as a header.
    static bool is_header(const std::vector<std::string_view>& fields)
    {
        for (std::string_view field : fields) {
            if (!field.empty() && field[0] >= '0' && field[0] <= '9') return false;
        }
        return true;
    }

    static decltype(line_content::kind) kind_of(const field_entry& found, line_content& line)
    {
        if (found.kind == field_entry::none) return line_content::unreadable;
        if (found.kind == field_entry::ipv6) {
            line.range6 = found.range6;
            return line_content::ipv6;
        }
        line.range = found.range;
        return line_content::adds;
    }

    /// A JSON value on one line: each of its objects with an address field gives an entry,
    /// the entries that read are added, and a line with one that does not is unreadable;
    /// objects without one are skipped. A line that does not parse adds nothing.
    decltype(line_content::kind) read_json_line(std::string_view text)
    {
        json_entries_.clear();
        if (json_.read(text, json_entries_) != json_outcome::parsed) return line_content::unreadable;
        add_json_entries(line_number_);
        return json_entries_.unreadable == 0 ? line_content::nothing : line_content::unreadable;
    }

    /// The first line of the input starts a JSON value: one on this line (JSON lines), or a
    /// document over many lines.
    const char* start_json(std::string_view text, const char* line, const char* next)
    {
        json_entries_.clear();
        if (json_.read(text, json_entries_) != json_outcome::parsed) {
            start_document({line, static_cast<std::size_t>(next - line)});
            return next;
        }
        shape_ = shape::json_lines;
        add_json_entries(line_number_);
        if (json_entries_.unreadable != 0) report_unreadable(text.data(), text.data() + text.size());
        return next;
    }

    /// Adds what the JSON text just read holds, its lines counted from first_line; a consumer
    /// takes its entries in order instead.
    void add_json_entries(std::uint64_t first_line)
    {
        if (consumer_ != nullptr) {
            for (const json_entries::described& found : json_entries_.entries) {
                if (found.entry.kind == field_entry::ipv6) {
                    consumer_->take_ipv6(found.entry.range6, first_line + found.line, found.text);
                } else if (found.entry.kind != field_entry::none) {
                    consumer_->take(found.entry.range, first_line + found.line, found.text);
                }
            }
            entries_ += json_entries_.entries.size() - json_entries_.unreadable;
            return;
        }
        for (ip_range range : json_entries_.ipv4) range_list_insert(list_, range);
        for (const ipv6_range& range : json_entries_.ipv6) ipv6_list_insert(ipv6_, range);
        entries_ += json_entries_.ipv4.size() + json_entries_.ipv6.size();
    }

    /// A row under a header, read by the header's delimiter before the plain forms; null when
    /// it cannot be read so, or is empty or a comment.
    const char* take_row(const char* p, const char* lines_end)
    {
        p = skip_blanks(p, lines_end);
        if (p == lines_end || is_line_end(*p) || starts_comment(p, lines_end)) return nullptr;
        line_content line;
        line.text = p;
        line.end = p;
        while (line.end < lines_end && !is_line_end(*line.end)) ++line.end;
        line.kind = read_row(trimmed({p, static_cast<std::size_t>(line.end - p)}), false, line);
        if (line.kind == line_content::unreadable) return nullptr;
        count_line(line);
        return line_splitter_step(line.end, lines_end);
    }

    /// A line of JSON lines that holds a JSON value, read as one, past the plain forms;
    /// null for any other line.
    const char* take_json_line(const char* p, const char* lines_end)
    {
        p = skip_blanks(p, lines_end);
        if (p == lines_end || (*p != '{' && *p != '[')) return nullptr;
        line_content line;
        line.text = p;
        // JSON lines are long: the line end is searched for with the C library's scan, the
        // CR of a CRLF, or a lone CR, before the LF.
        const void* lf = std::memchr(p, '\n', static_cast<std::size_t>(lines_end - p));
        line.end = lf != nullptr ? static_cast<const char*>(lf) : lines_end;
        if (const void* cr = std::memchr(p, '\r', static_cast<std::size_t>(line.end - p))) line.end = static_cast<const char*>(cr);
        line.kind = read_json_line(trimmed({p, static_cast<std::size_t>(line.end - p)}));
        content_seen_ = true;
        count_line(line);
        return line_splitter_step(line.end, lines_end);
    }

    void start_document(std::string_view start)
    {
        shape_ = shape::json_document;
        document_line_ = line_number_;
        document_.assign(start);
        json_entries_.clear();
    }

    const char* take_document_line(const char* p, const char* lines_end)
    {
        const char* next = p;
        while (next < lines_end && !is_line_end(*next)) ++next;
        next = line_splitter_step(next, lines_end);
        document_.append(p, next);
        return next;
    }

    void report_unreadable(const char* p, const char* end)
    {
        if (++unreadable_lines_ > reported_line_limit) return;
        diagnostic("'%s' line %ld: cannot read '%s'\n", shown_, static_cast<long>(line_number_),
                   shown_text(p, end).c_str());
    }

    const char* shown_;
    range_list& list_;
    ipv6_list& ipv6_;
    entry_consumer* consumer_;
    std::string entry_text_;
    std::uint64_t line_number_ = 0;
    std::uint64_t unreadable_lines_ = 0;
    std::uint64_t entries_ = 0;
    bool content_seen_ = false;
    bool damaged_ = false;
    shape shape_ = shape::lines;
    char delimiter_ = 0;
    std::vector<std::string_view> fields_;
    std::string document_;
    std::uint64_t document_line_ = 0;
    json_address_reader json_;
    json_entries json_entries_;
};

/// Takes what was read ahead from the cut on, the main thread being at the cut: the line
/// count, and the ranges (add_found_to, add_found_ipv6_to). Returns the stream offset to read
/// on from, or 0 when nothing was taken because the stream cannot move past those lines.
std::uint64_t take_lines_ahead(gzFile file, lines_ahead& ahead, line_reader& reader, range_list& list, ipv6_list& ipv6)
{
    ahead.stop_reading();
    // This thread sorts its IPv6 additions while the second one sorts those it read.
    ipv6_list_view(ipv6);
    lines_ahead::found found = ahead.finish();
    if (found.end > ahead.cut() && gzseek(file, static_cast<z_off_t>(found.end), SEEK_SET) >= 0) {
        reader.count_lines(static_cast<std::uint64_t>(found.line_feeds), found.ranges.size() + found.ipv6_entries);
        ahead.add_found_ipv6_to(ipv6);
        ahead.add_found_to(list);
        return found.end;
    }
    ahead.release();
    return 0;
}

/// Once the lines show a shape of their own, what the second processor reads (as plain
/// lines) is of no use; a JSON document takes the rest of the input.
void follow_shape(line_reader& reader, line_splitter& splitter, lines_ahead& ahead)
{
    if (!reader.shape_found()) return;
    ahead.release();
    if (reader.document_begun()) reader.read_document(splitter);
}

/// Reads the stream as lines, after the bytes held that were taken from it already; with
/// ahead running, up to its cut, where it takes the lines read ahead.
/// Returns 0 when it was read to its end and every line was readable.
int read_lines(gzFile file, std::string_view held, const char* shown, range_list& list, ipv6_list& ipv6,
               lines_ahead& ahead, entry_consumer* consumer)
{
    line_splitter splitter(file, held);
    line_reader reader(shown, list, ipv6, consumer);
    while (!splitter.ended()) {
        // Lines from the cut on are the second processor's, until its reading is taken.
        line_block block = splitter.next(ahead.running() ? ahead.cut() : no_stop);
        const char* end = block.lines.data() + block.lines.size();
        for (const char* p = block.lines.data(); p < end;) p = reader.handle_line(p, end);
        if (!block.overlong.empty()) reader.handle_overlong_line(block.overlong.data(), block.overlong.data() + block.overlong.size());
        follow_shape(reader, splitter, ahead);
        if (reader.document_begun()) break;
        if (!ahead.running() || splitter.failed()) continue;
        if (block.end_offset == ahead.cut()) {
            if (std::uint64_t resume = take_lines_ahead(file, ahead, reader, list, ipv6)) splitter.restart_at(resume);
        } else if (block.end_offset > ahead.cut()) {
            ahead.release();
        }
    }
    // Ranges read ahead out of order join with the lines after them that this thread read.
    ahead.add_waiting_to(list);
    if (splitter.failed()) diagnostic("Error reading file '%s'.\n", shown);
    bool all_readable = reader.finish(splitter.failed());
    return splitter.failed() || !all_readable ? -1 : 0;
}

/// Reads the input at path (null: standard input) into the lists, or hands its entries to
/// consumer when that is not null.
int read_auto_list(const char* path, range_list& list, ipv6_list& ipv6, entry_consumer* consumer)
{
    const char* shown = path != nullptr ? path : auto_standard_input_name;
    int fd = -1;
    gzFile file = gzip_input_open(path, &fd);
    int result = -1;
    lines_ahead ahead;
    // A large plain file's second half is read ahead, unless it is compressed or P2B.
    if (file != nullptr && path != nullptr && consumer == nullptr) {
        unsigned char start[sizeof p2b_magic] = {};
        bool plain = ::pread(fd, start, sizeof start, 0) == static_cast<ssize_t>(sizeof start) && !(start[0] == 0x1F && start[1] == 0x8B)
                     && std::memcmp(start, p2b_magic, sizeof start) != 0;
        if (plain) ahead.start(fd, read_lines_ahead, smallest_file_ahead, true);
        ahead.reserve_room_in(list);
        ahead.reserve_room_in(ipv6);
    }
    if (file == nullptr) {
        diagnostic("Error opening file '%s'.\n", shown);
    } else {
        char head[sizeof p2b_magic];
        int got = gzip_input_read(file, head, sizeof head);
        if (got < 0) {
            diagnostic("Error reading file '%s'.\n", shown);
        } else if (got == static_cast<int>(sizeof head) && std::memcmp(head, p2b_magic, sizeof head) == 0) {
            result = consumer != nullptr ? p2b_search_stream(file, {head, sizeof head}, shown, *consumer)
                                         : p2b_read_stream(file, {head, sizeof head}, shown, list);
            // The records may end before the data does; a cut stream still shows at its end.
            if (result == 0 && !gzip_input_read_to_end(file)) {
                diagnostic("Error reading file '%s'.\n", shown);
                result = -1;
            }
        } else {
            result = read_lines(file, {head, static_cast<std::size_t>(got)}, shown, list, ipv6, ahead, consumer);
        }
        gzclose(file);
    }
    if (result != 0) note_data_error();
    return result;
}

} // namespace

int auto_list_read(const char* path, range_list& list, ipv6_list& ipv6) { return read_auto_list(path, list, ipv6, nullptr); }

int auto_list_search(const char* path, entry_consumer& consumer)
{
    range_list unused;
    ipv6_list unused6;
    return read_auto_list(path, unused, unused6, &consumer);
}

auto_entry auto_entry_read(std::string_view text)
{
    field_entry found = read_field(text);
    if (found.kind == field_entry::ipv6) return {auto_entry::ipv6, {}, found.range6};
    if (found.kind == field_entry::none) return {};
    return {auto_entry::ipv4, found.range, {}};
}

} // namespace blockset
