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
#include "io/process.h"
#include "parallel/shared_listing.h"
#include "ranges/ipv6_listings.h"
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
        std::unique_ptr<set_value> taken = value.release();
        variable.ranges = std::move(taken->ranges);
        variable.ipv6 = std::move(taken->ipv6);
    } else if (&value.get() != &variable) {
        range_list_copy(value.get().ranges, variable.ranges);
        variable.ipv6 = value.get().ipv6;
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
    ipv6_list ipv6;
    auto_list_read(path, value->ranges, ipv6);
    // Every IPv6 entry read adds an address, so an empty list means none was read.
    if (!ipv6_list_view(ipv6).empty()) value->ipv6 = std::move(ipv6);
    return value;
}

namespace {

/// Up to this many ranges, a union adds an operand's ranges one by one to a temporary
/// operand's list, or to the variable it is assigned to, instead of sweeping both into a new
/// one: a script that grows a set a few ranges at a time then costs what it adds, not the
/// size of the set.
constexpr std::size_t added_in_place = 1024;

/// Adds the IPv6 part of from, a set distinct from to, to the IPv6 part of to, which then
/// holds one if from does.
void add_ipv6_part(set_value& to, set_value& from)
{
    if (!from.ipv6) return;
    if (!to.ipv6) {
        to.ipv6 = from.ipv6;
        return;
    }
    std::span<const ipv6_range> added = ipv6_list_view(*from.ipv6);
    if (added.size() <= added_in_place) {
        for (const ipv6_range& range : added) ipv6_list_insert(*to.ipv6, range);
    } else {
        ipv6_list result;
        ipv6_list_union(*to.ipv6, *from.ipv6, result);
        *to.ipv6 = std::move(result);
    }
}

/// Gives result the IPv6 part op makes of the parts of a and b, when either holds one; a part
/// not held counts as empty.
void combine_ipv6_parts(set_value& a, set_value& b, set_value& result,
                        ipv6_list& (*op)(ipv6_list&, ipv6_list&, ipv6_list&))
{
    if (!a.ipv6 && !b.ipv6) return;
    ipv6_list none;
    op(a.ipv6 ? *a.ipv6 : none, b.ipv6 ? *b.ipv6 : none, result.ipv6.emplace());
}

} // namespace

std::unique_ptr<set_value> set_value_union(expression_value a, expression_value b)
{
    if (!a.is_temporary()) std::swap(a, b);
    if (a.is_temporary() && &a.get() != &b.get()) {
        std::span<const ip_range> small = range_list_view(b.get().ranges);
        if (small.size() <= added_in_place) {
            auto result = a.release();
            for (const ip_range& range : small) range_list_insert(result->ranges, range);
            add_ipv6_part(*result, b.get());
            return result;
        }
    }
    auto result = set_value_new();
    range_list_union(a.get().ranges, b.get().ranges, result->ranges);
    combine_ipv6_parts(a.get(), b.get(), *result, ipv6_list_union);
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
    add_ipv6_part(variable, b.get());
    return variable;
}

std::unique_ptr<set_value> set_value_intersection(expression_value a, expression_value b)
{
    auto result = set_value_new();
    range_list_intersection(a.get().ranges, b.get().ranges, result->ranges);
    combine_ipv6_parts(a.get(), b.get(), *result, ipv6_list_intersection);
    return result;
}

std::unique_ptr<set_value> set_value_difference(expression_value a, expression_value b)
{
    auto result = set_value_new();
    range_list_difference(a.get().ranges, b.get().ranges, result->ranges);
    combine_ipv6_parts(a.get(), b.get(), *result, ipv6_list_difference);
    return result;
}

std::unique_ptr<set_value> set_value_complement(expression_value a)
{
    auto result = set_value_new();
    range_list_complement(a.get().ranges, result->ranges);
    if (a.get().ipv6) ipv6_list_complement(*a.get().ipv6, result->ipv6.emplace());
    return result;
}

namespace {

/// The listings of a save: one for each family.
struct value_listing {
    void (*ipv4)(output_stream&, range_list&);
    void (*ipv6)(output_stream&, ipv6_list&);
};

/// Writes the value's parts with the listing to the file at path, or on standard output.
void write_value(const char* path, expression_value value, value_listing listing)
{
    struct bound {
        set_value* value;
        value_listing listing;
    } call{&value.get(), listing};
    // Merging needs memory: do it before any file is touched.
    range_list_view(call.value->ranges);
    if (call.value->ipv6) ipv6_list_view(*call.value->ipv6);
    write_output_file(
        path,
        [](output_stream& out, void* context) {
            const bound* c = static_cast<const bound*>(context);
            c->listing.ipv4(out, c->value->ranges);
            if (c->value->ipv6) c->listing.ipv6(out, *c->value->ipv6);
        },
        &call);
}

} // namespace

void set_value_write_cidr(const char* path, expression_value value)
{
    write_value(path, std::move(value), {write_cidr_listing, ipv6_list_write_cidr});
}

void set_value_write_ranges(const char* path, expression_value value)
{
    write_value(path, std::move(value), {write_range_listing, ipv6_list_write_ranges});
}

void set_value_write_addresses(const char* path, expression_value value)
{
    set_value& set = value.get();
    if (set.ipv6 && !ipv6_list_addresses_listable(*set.ipv6)) {
        std::string place = "standard output";
        if (path != nullptr) place.assign(1, '\'').append(path).append(1, '\'');
        diagnostic("Too many IPv6 addresses to list one a line (more than %lu): nothing written to %s.\n",
                   static_cast<unsigned long>(most_listed_ipv6_addresses), place.c_str());
        note_data_error();
        return;
    }
    write_value(path, std::move(value), {range_list_write_addresses, ipv6_list_write_addresses});
}

void set_value_write_count(const char* path, expression_value value)
{
    write_value(path, std::move(value), {range_list_write_count, ipv6_list_write_count});
}

} // namespace blockset
