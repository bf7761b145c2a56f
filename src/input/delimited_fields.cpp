#include "input/delimited_fields.h"

#include <cstddef>

namespace blockset {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

/// Blanks that are not the delimiter.
std::size_t skip_blanks(std::string_view row, std::size_t at, char delimiter)
{
    while (at < row.size() && row[at] != delimiter && is_blank(row[at])) ++at;
    return at;
}

/// The end of the quoted field whose opening quote is at open: the closing quote, or npos.
std::size_t closing_quote(std::string_view row, std::size_t open)
{
    for (std::size_t at = open + 1; at < row.size(); ++at) {
        if (row[at] != '"') continue;
        if (at + 1 < row.size() && row[at + 1] == '"') {
            ++at; // a doubled quote inside the field
            continue;
        }
        return at;
    }
    return std::string_view::npos;
}

} // namespace

char delimited_fields_delimiter(std::string_view row)
{
    bool quoted = false;
    for (char c : row) {
        if (c == '"') quoted = !quoted;
        if (!quoted && (c == ',' || c == '\t' || c == ';')) return c;
    }
    return 0;
}

bool delimited_fields_split(std::string_view row, char delimiter, std::vector<std::string_view>& fields)
{
    fields.clear();
    std::size_t at = 0;
    for (;;) {
        at = skip_blanks(row, at, delimiter);
        std::size_t end = at;
        if (at < row.size() && row[at] == '"') {
            end = closing_quote(row, at);
            if (end == std::string_view::npos) return false;
            fields.push_back(row.substr(at + 1, end - at - 1));
            at = skip_blanks(row, end + 1, delimiter);
            if (at < row.size() && row[at] != delimiter) return false;
        } else {
            while (end < row.size() && row[end] != delimiter) ++end;
            std::size_t last = end;
            while (last > at && is_blank(row[last - 1])) --last;
            fields.push_back(row.substr(at, last - at));
            at = end;
        }
        if (at >= row.size()) return true;
        ++at; // past the delimiter
    }
}

} // namespace blockset
