#pragma once

namespace blockset {

// The bytes that delimit an entry of a published list: blanks between fields, line ends, and
// the three ways a comment starts.

inline bool is_blank(char c) { return c == ' ' || c == '\t'; }
inline bool is_line_end(char c) { return c == '\n' || c == '\r'; }

/// "#", ";" or "//" at p, which is before end.
inline bool starts_comment(const char* p, const char* end)
{
    return *p == '#' || *p == ';' || (*p == '/' && p + 1 < end && p[1] == '/');
}

/// An entry ends at the end of its line, at a blank or where a comment starts.
inline bool ends_entry(const char* p, const char* end)
{
    return p == end || is_blank(*p) || is_line_end(*p) || starts_comment(p, end);
}

inline const char* skip_blanks(const char* p, const char* end)
{
    while (p < end && is_blank(*p)) ++p;
    return p;
}

} // namespace blockset
