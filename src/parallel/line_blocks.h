#pragma once
#include <cstddef>
#include <string_view>

namespace blockset {

// What a reader of a list's usual lines, taken in bulk from bytes held in memory, tells the
// code that feeds it blocks of a file: the main thread's reader and the one that reads ahead.

/// Bytes held from a line's start that decide a plain line without a look past them: a range
/// literal's second quad starts 16 bytes in at most and its read loads 16 bytes, and the line
/// end follows by byte 33.
constexpr std::size_t plain_line_room = 48;

/// The shortest plain line, "0.0.0.0" and a line feed: a text of n bytes holds at most
/// n / shortest_plain_line of them.
constexpr std::size_t shortest_plain_line = 8;

/// The bytes of the complete lines a reader took from the start of a block, and their line
/// feeds.
struct plain_lines {
    std::size_t bytes = 0;
    int line_feeds = 0;
};

/// A reader of the lines at the start of held, handing each entry to add.
template <class Add>
using plain_lines_reader = plain_lines (*)(std::string_view, Add&);

} // namespace blockset
