#include "ranges/comparison_listings.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "io/output_stream.h"

namespace blockset {

namespace {

/// A family's figures with its name, as the rows show them.
struct family_rows {
    const char* family;
    const list_comparison* figures;
};

std::vector<family_rows> families_of(const compared_sets& sets)
{
    std::vector<family_rows> families{{"ipv4", &sets.ipv4}};
    if (sets.ipv6) families.push_back({"ipv6", &*sets.ipv6});
    return families;
}

address_count counted(std::uint64_t number)
{
    address_count count;
    count.low = number;
    return count;
}

/// The numbers of one row: ranges, blocks, addresses, only here, then shared with each set.
std::vector<address_count> row_numbers(const list_comparison& figures, std::size_t set)
{
    std::vector<address_count> numbers{counted(figures.ranges[set]), counted(figures.blocks[set]),
                                       figures.addresses[set], figures.only_here[set]};
    for (std::size_t other = 0; other < figures.ranges.size(); ++other) numbers.push_back(figures.shared(set, other));
    return numbers;
}

/// A CSV field: quoted, with its quotes doubled, when it holds a comma, a quote or a line end.
std::string csv_field(std::string_view text)
{
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

/// Characters a terminal shows for the text: every byte but the continuation bytes of UTF-8.
std::size_t shown_width(std::string_view text)
{
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0u) != 0x80u;
    }));
}

/// The byte offset after the first count characters of text.
std::size_t after_characters(std::string_view text, std::size_t count)
{
    std::size_t at = 0;
    for (std::size_t seen = 0; at < text.size(); ++at) {
        if ((static_cast<unsigned char>(text[at]) & 0xC0u) != 0x80u && seen++ == count) break;
    }
    return at;
}

/// The name as the table shows it: whole, or its first and last characters around "...".
std::string table_name(std::string_view name)
{
    std::size_t width = shown_width(name);
    if (width <= most_table_name) return std::string(name);
    constexpr std::size_t head = (most_table_name - 3) / 2;
    constexpr std::size_t tail = most_table_name - 3 - head;
    return std::string(name.substr(0, after_characters(name, head))) + "..." +
           std::string(name.substr(after_characters(name, width - tail)));
}

/// Cells of one table row; the first three are text, the others numbers.
using table_row = std::vector<std::string>;
constexpr std::size_t text_columns = 3;

void write_table_row(output_stream& out, const table_row& row, const std::vector<std::size_t>& widths)
{
    std::string line;
    for (std::size_t column = 0; column < row.size(); ++column) {
        std::size_t padding = widths[column] - shown_width(row[column]);
        if (column > 0) line += "  ";
        if (column >= text_columns) line.append(padding, ' ');
        line += row[column];
        // The last text column is followed by numbers, so it is always padded.
        if (column < text_columns) line.append(padding, ' ');
    }
    line += '\n';
    out.write(line);
}

std::string union_text(const char* family, const list_comparison& figures)
{
    std::string text = family;
    text.append(1, ' ').append(address_count_grouped(counted(figures.union_ranges))).append(" ranges, ");
    text.append(address_count_grouped(counted(figures.union_blocks))).append(" blocks, ");
    text.append(address_count_grouped(figures.union_addresses)).append(" addresses");
    return text;
}

/// "#K", the set's position from 1.
std::string set_label(std::size_t set)
{
    std::string label = "#";
    label += std::to_string(set + 1);
    return label;
}

} // namespace

void compared_sets_write_csv(output_stream& out, const compared_sets& sets)
{
    std::string header = "family,name,ranges,blocks,addresses,only_here";
    for (const std::string& name : sets.names) header.append(1, ',').append(csv_field(name));
    header += '\n';
    out.write(header);
    for (const family_rows& family : families_of(sets)) {
        for (std::size_t set = 0; set < sets.names.size(); ++set) {
            std::string row = family.family;
            row.append(1, ',').append(csv_field(sets.names[set]));
            for (const address_count& number : row_numbers(*family.figures, set))
                row.append(1, ',').append(address_count_text(number));
            row += '\n';
            out.write(row);
        }
    }
}

void compared_sets_write_table(output_stream& out, const compared_sets& sets)
{
    std::vector<table_row> rows;
    table_row header{"set", "name", "family", "ranges", "blocks", "addresses", "only here"};
    for (std::size_t set = 0; set < sets.names.size(); ++set) header.push_back(set_label(set));
    rows.push_back(header);
    for (const family_rows& family : families_of(sets)) {
        for (std::size_t set = 0; set < sets.names.size(); ++set) {
            table_row row{set_label(set), table_name(sets.names[set]), family.family};
            for (const address_count& number : row_numbers(*family.figures, set))
                row.push_back(address_count_grouped(number));
            rows.push_back(std::move(row));
        }
    }
    std::vector<std::size_t> widths(header.size(), 0);
    for (const table_row& row : rows)
        for (std::size_t column = 0; column < row.size(); ++column)
            widths[column] = std::max(widths[column], shown_width(row[column]));
    for (const table_row& row : rows) write_table_row(out, row, widths);
    std::string summary = "union: ";
    summary += union_text("ipv4", sets.ipv4);
    if (sets.ipv6) summary.append("; ").append(union_text("ipv6", *sets.ipv6));
    summary += '\n';
    out.write(summary);
}

} // namespace blockset
