#include "command_language/set_value.h"

#include <span>
#include <string>
#include <utility>

#include "input/auto_list.h"
#include "input/entry_literals.h"
#include "input/p2b_reader.h"
#include "input/text_list.h"
#include "io/diagnostics.h"
#include "io/output_file.h"
#include "ranges/listings.h"
#include "ranges/set_algebra.h"

namespace blockset {

void variable_table_clear(variable_table& table)
{
    table.variables.clear();
}

set_value* variable_table_find(variable_table& table, std::string_view name)
{
    auto found = table.variables.find(name);
    return found == table.variables.end() ? nullptr : found->second.get();
}

set_value& variable_table_insert(variable_table& table, std::string name)
{
    return *table.variables.emplace(std::move(name), set_value_new()).first->second;
}

set_value& variable_assign(set_value& variable, expression_value value)
{
    if (value.is_temporary()) {
        variable.ranges = std::move(value.release()->ranges);
    } else if (&value.get() != &variable) {
        range_list_copy(value.get().ranges, variable.ranges);
    }
    return variable;
}

set_value& variable_reference(variable_table& table, std::string_view name)
{
    if (set_value* variable = variable_table_find(table, name)) return *variable;
    std::string made(name);
    diagnostic("Variable '%s' does not exist.\n", made.c_str());
    return variable_table_insert(table, std::move(made));
}

std::unique_ptr<set_value> set_value_new() { return std::make_unique<set_value>(); }

void set_value_add_host(set_value& value, std::string_view text) { host_lookup(value.ranges, text); }

void set_value_add_read(set_value& value, ip_range range)
{
    range_list_insert(value.ranges, range);
}

std::unique_ptr<set_value> set_value_load_text(const char* path)
{
    auto value = set_value_new();
    text_list_read(path, value->ranges);
    return value;
}

std::unique_ptr<set_value> set_value_load_p2b(const char* path)
{
    auto value = set_value_new();
    p2b_read(path, value->ranges);
    return value;
}

std::unique_ptr<set_value> set_value_load_auto(const char* path)
{
    auto value = set_value_new();
    auto_list_read(path, value->ranges);
    return value;
}

namespace {

/// Up to this many ranges, a union adds an operand's ranges one by one to a temporary
/// operand's list, or to the variable it is assigned to, instead of sweeping both into a new
/// one: a script that grows a set a few ranges at a time then costs what it adds, not the
/// size of the set.
constexpr std::size_t added_in_place = 1024;

} // namespace

std::unique_ptr<set_value> set_value_union(expression_value a, expression_value b)
{
    if (!a.is_temporary()) std::swap(a, b);
    if (a.is_temporary() && &a.get() != &b.get()) {
        std::span<const ip_range> small = range_list_view(b.get().ranges);
        if (small.size() <= added_in_place) {
            auto result = a.release();
            for (const ip_range& range : small) range_list_insert(result->ranges, range);
            return result;
        }
    }
    auto result = set_value_new();
    range_list_union(a.get().ranges, b.get().ranges, result->ranges);
    return result;
}

set_value& variable_union_assign(set_value& variable, expression_value a, expression_value b)
{
    if (&b.get() == &variable) std::swap(a, b);
    if (&a.get() != &variable) return variable_assign(variable, expression_value(set_value_union(std::move(a), std::move(b))));
    if (&b.get() == &variable) return variable;
    // Nothing reads the variable before it is replaced: the union may be made in it.
    std::span<const ip_range> added = range_list_view(b.get().ranges);
    if (added.size() <= added_in_place) {
        for (const ip_range& range : added) range_list_insert(variable.ranges, range);
    } else {
        range_list result;
        range_list_union(variable.ranges, b.get().ranges, result);
        variable.ranges = std::move(result);
    }
    return variable;
}

std::unique_ptr<set_value> set_value_intersection(expression_value a, expression_value b)
{
    auto result = set_value_new();
    range_list_intersection(a.get().ranges, b.get().ranges, result->ranges);
    return result;
}

std::unique_ptr<set_value> set_value_difference(expression_value a, expression_value b)
{
    auto result = set_value_new();
    range_list_difference(a.get().ranges, b.get().ranges, result->ranges);
    return result;
}

std::unique_ptr<set_value> set_value_complement(expression_value a)
{
    auto result = set_value_new();
    range_list_complement(a.get().ranges, result->ranges);
    return result;
}

namespace {

/// Writes the value's list with the listing to the file at path, or on standard output.
void write_value(const char* path, expression_value value, void (*listing)(output_stream&, range_list&))
{
    range_list& list = value.get().ranges;
    range_list_view(list); // merging needs memory: do it before any file is touched
    write_output_file(path, list, listing);
}

} // namespace

void set_value_write_cidr(const char* path, expression_value value)
{
    write_value(path, std::move(value), range_list_write_cidr);
}

void set_value_write_ranges(const char* path, expression_value value)
{
    write_value(path, std::move(value), range_list_write_ranges);
}

void set_value_write_addresses(const char* path, expression_value value)
{
    write_value(path, std::move(value), range_list_write_addresses);
}

void set_value_write_count(const char* path, expression_value value)
{
    write_value(path, std::move(value), range_list_write_count);
}

} // namespace blockset
