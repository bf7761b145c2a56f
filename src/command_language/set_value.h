#pragma once
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "ranges/ipv6_list.h"
#include "ranges/range_list.h"

namespace blockset {

/// The value of a script expression: a temporary made by the expression, or a variable of
/// the run's variable_table (which holds its name).
///
/// A set has an IPv4 part and, once anything IPv6 reached it (an auto load that read an IPv6
/// entry, or an operand or assigned set that holds an IPv6 part), an IPv6 part: ipv6 is then
/// engaged, even when that part is empty. Operations act on each family separately; the
/// complement inverts the IPv6 part only of a set that holds one, so that the complement of
/// an empty set stays 0.0.0.0/0 and complementing twice gives the set back.
struct set_value {
    range_list ranges;
    std::optional<ipv6_list> ipv6;
};

/// An expression's result: either a temporary it owns, or a variable it only borrows.
/// Consuming operations take it by value, so a temporary is used at most once.
class expression_value {
public:
    expression_value() = default;
    explicit expression_value(std::unique_ptr<set_value> temporary) : owned_(std::move(temporary)) {}
    explicit expression_value(set_value& variable) : borrowed_(&variable) {}
    set_value& get() const { return owned_ ? *owned_ : *borrowed_; }
    bool is_temporary() const { return owned_ != nullptr; }
    /// The temporary's ranges, taken out of it (only for a temporary).
    std::unique_ptr<set_value> release() { return std::move(owned_); }

private:
    std::unique_ptr<set_value> owned_;
    set_value* borrowed_ = nullptr;
};

/// Orders variable names by their first 32 bytes: names that agree there are one variable.
/// Names are looked up as they stand in the script, without a copy.
struct variable_name_less {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const { return a.substr(0, 32) < b.substr(0, 32); }
};

/// A run's variables by name. Variables live until the table is cleared.
struct variable_table {
    std::map<std::string, std::unique_ptr<set_value>, variable_name_less> variables;
};

void variable_table_clear(variable_table& table);
/// The variable of that name, or null.
set_value* variable_table_find(variable_table& table, std::string_view name);
/// Makes an empty variable of a name that is not in the table yet.
set_value& variable_table_insert(variable_table& table, std::string name);

/// Gives the variable the value's set: a temporary's ranges are moved in, a variable's are
/// copied (assigning a variable to itself changes nothing). Returns the variable.
set_value& variable_assign(set_value& variable, expression_value value);
/// The variable of that name; a name not seen before is warned about once and made empty.
set_value& variable_reference(variable_table& table, std::string_view name);

std::unique_ptr<set_value> set_value_new();
/// Adds the addresses the host name resolves to (a name that does not resolve is reported).
void set_value_add_host(set_value& value, std::string_view text);
/// Adds first..last, the numbers of a literal read while it was matched (nothing when
/// first lies above last).
void set_value_add_read(set_value& value, ip_range range);
/// A new temporary with the list read from path (null: standard input).
std::unique_ptr<set_value> set_value_load_text(const char* path);
std::unique_ptr<set_value> set_value_load_p2b(const char* path);
/// A new temporary with the list read from path (null: standard input), whatever its shape.
std::unique_ptr<set_value> set_value_load_auto(const char* path);

std::unique_ptr<set_value> set_value_union(expression_value a, expression_value b);
/// Gives the variable the union of a and b, either of which may be the variable itself, as
/// in `$a = union($a, {...})`: the union is then made in the variable. Returns the variable.
set_value& variable_union_assign(set_value& variable, expression_value a, expression_value b);
std::unique_ptr<set_value> set_value_intersection(expression_value a, expression_value b);
/// a minus b.
std::unique_ptr<set_value> set_value_difference(expression_value a, expression_value b);
std::unique_ptr<set_value> set_value_complement(expression_value a);

/// Writes the value to the file at path, or to standard output when path is null: the IPv4
/// part, then the IPv6 part of a set that holds one.
void set_value_write_cidr(const char* path, expression_value value);
void set_value_write_ranges(const char* path, expression_value value);
/// An IPv6 part of more than 2^24 addresses is refused (reported, status 65): nothing is
/// written and a named file keeps its bytes.
void set_value_write_addresses(const char* path, expression_value value);
/// Writes one line: the number of ranges, CIDR blocks and addresses of the value; a second
/// one for the IPv6 part of a set that holds one.
void set_value_write_count(const char* path, expression_value value);

} // namespace blockset
