#include "command_language/compare_statement.h"

#include <span>
#include <utility>

#include "io/output_file.h"
#include "ranges/comparison_listings.h"
#include "ranges/ipv6_list.h"
#include "ranges/list_comparison.h"

namespace blockset {

bool comparison_format_named(std::string_view word, comparison_format& format)
{
    if (word == "csv") {
        format = comparison_format::csv;
    } else if (word == "table") {
        format = comparison_format::table;
    } else {
        return false;
    }
    return true;
}

void set_value_compare(const char* path, comparison_format format, const std::vector<std::string>& names,
                       std::vector<expression_value> values)
{
    std::vector<std::span<const ip_range>> ipv4;
    std::vector<std::span<const ipv6_range>> ipv6;
    bool holds_ipv6 = false;
    for (expression_value& value : values) {
        set_value& set = value.get();
        ipv4.push_back(range_list_view(set.ranges));
        ipv6.push_back(set.ipv6 ? ipv6_list_view(*set.ipv6) : std::span<const ipv6_range>());
        holds_ipv6 = holds_ipv6 || set.ipv6.has_value();
    }
    struct bound {
        compared_sets sets;
        comparison_format format;
    } call{{names, compare_ipv4_lists(ipv4), std::nullopt}, format};
    if (holds_ipv6) call.sets.ipv6 = compare_ipv6_lists(ipv6);
    write_output_file(
        path,
        [](output_stream& out, void* context) {
            const bound* c = static_cast<const bound*>(context);
            if (c->format == comparison_format::csv) {
                compared_sets_write_csv(out, c->sets);
            } else {
                compared_sets_write_table(out, c->sets);
            }
        },
        &call);
}

} // namespace blockset
