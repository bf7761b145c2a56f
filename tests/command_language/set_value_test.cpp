#include "command_language/set_value.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "io/diagnostics.h"
#include "test_support.h"

namespace blockset {
namespace {

using testing::ranges_of;
using testing::ranges;

std::unique_ptr<set_value> temporary_with(const ranges& items)
{
    auto value = set_value_new();
    value->ranges = testing::list_of(items);
    return value;
}

/// Assigns to the variable of that name, made empty first if new.
set_value& variable_assign(variable_table& table, std::string name, expression_value value)
{
    set_value* variable = variable_table_find(table, name);
    if (variable == nullptr) variable = &variable_table_insert(table, std::move(name));
    return variable_assign(*variable, std::move(value));
}

TEST(set_value, assign_moves_a_temporary_and_copies_a_variable)
{
    variable_table table;
    set_value& bb = variable_assign(table, "$bb", expression_value(temporary_with({{1, 1}})));
    set_value& aa = variable_assign(table, "$aa", expression_value(bb));
    EXPECT_EQ(ranges_of(aa.ranges), (ranges{{1, 1}}));
    variable_assign(table, "$bb", expression_value(temporary_with({{2, 2}})));
    EXPECT_EQ(ranges_of(aa.ranges), (ranges{{1, 1}}));
    EXPECT_EQ(ranges_of(bb.ranges), (ranges{{2, 2}}));
    EXPECT_EQ(&variable_assign(table, "$aa", expression_value(aa)), &aa);
    EXPECT_EQ(ranges_of(aa.ranges), (ranges{{1, 1}}));
    variable_assign(table, "$aa", expression_value(set_value_new()));
    EXPECT_TRUE(ranges_of(aa.ranges).empty());
}

TEST(set_value, table_is_ordered_by_the_first_32_bytes_of_names)
{
    variable_table table;
    for (const char* name : {"$zz", "$aa", "$mm", "$ab"}) variable_assign(table, name, expression_value(set_value_new()));
    std::string order;
    for (const auto& [name, value] : table.variables) order += name + " ";
    EXPECT_EQ(order, "$aa $ab $mm $zz ");
    std::string long_name = "$" + std::string(31, 'x');
    set_value& first = variable_assign(table, long_name + "1", expression_value(temporary_with({{5, 6}})));
    EXPECT_EQ(variable_table_find(table, long_name + "2"), &first);
    EXPECT_EQ(table.variables.find(long_name + "2")->first, long_name + "1");
    EXPECT_EQ(variable_table_find(table, long_name.substr(0, 31)), nullptr);
    for (const char* name : {"$aa", "$ab", "$aa"}) {
        EXPECT_EQ(variable_table_find(table, name), table.variables.find(name)->second.get()) << name;
    }
    variable_table_find(table, long_name + "1");
    variable_table_clear(table);
    EXPECT_TRUE(table.variables.empty());
    EXPECT_EQ(variable_table_find(table, long_name + "1"), nullptr);
}

TEST(set_value, reference_warns_once_and_makes_an_empty_variable)
{
    variable_table table;
    diagnostic_capture messages;
    set_value& cc = variable_reference(table, "$cc");
    EXPECT_TRUE(ranges_of(cc.ranges).empty());
    EXPECT_EQ(&variable_reference(table, "$cc"), &cc);
    variable_assign(table, "$cc", expression_value(temporary_with({{3, 4}})));
    EXPECT_EQ(messages.text(), "Variable '$cc' does not exist.\n");
}

TEST(set_value, operations_read_variables_and_consume_temporaries)
{
    variable_table table;
    set_value& aa = variable_assign(table, "$aa", expression_value(temporary_with({{10, 20}, {30, 40}})));
    auto both = set_value_union(expression_value(aa), expression_value(aa));
    EXPECT_EQ(ranges_of(both->ranges), (ranges{{10, 20}, {30, 40}}));
    auto cut = set_value_difference(expression_value(aa), expression_value(temporary_with({{15, 35}})));
    EXPECT_EQ(ranges_of(cut->ranges), (ranges{{10, 14}, {36, 40}}));
    auto common = set_value_intersection(expression_value(std::move(both)), expression_value(temporary_with({{18, 32}})));
    EXPECT_EQ(ranges_of(common->ranges), (ranges{{18, 20}, {30, 32}}));
    auto rest = set_value_complement(expression_value(aa));
    EXPECT_EQ(ranges_of(rest->ranges), (ranges{{0, 9}, {21, 29}, {41, top_address}}));
    EXPECT_EQ(ranges_of(aa.ranges), (ranges{{10, 20}, {30, 40}}));
}

TEST(set_value, union_assigned_to_a_variable_gives_the_union_wherever_the_variable_stands)
{
    // Every other address from 100 on: 2000 ranges, more than are added one by one.
    ranges many;
    for (std::uint32_t a = 100; a < 4100; a += 2) many.push_back({a, a});
    ranges joined = many;
    joined.front() = {50, 100};
    enum place { first, second, both, neither };
    for (const ranges& operand : {ranges{{50, 99}}, many}) {
        for (place where : {first, second, both, neither}) {
            variable_table table;
            set_value& aa = variable_assign(table, "$aa", expression_value(temporary_with({{50, 60}, {61, 99}})));
            set_value& bb = variable_assign(table, "$bb", expression_value(temporary_with(operand)));
            set_value& cc = variable_assign(table, "$cc", expression_value(aa));
            expression_value a(where == neither ? cc : aa);
            expression_value b(where == both ? aa : bb);
            if (where == second) std::swap(a, b);
            EXPECT_EQ(&variable_union_assign(aa, std::move(a), std::move(b)), &aa);
            const ranges expected = where == both ? ranges{{50, 99}} : operand.size() == 1 ? ranges{{50, 99}} : joined;
            EXPECT_EQ(ranges_of(aa.ranges), expected) << where;
            EXPECT_EQ(ranges_of(bb.ranges), operand);
            EXPECT_EQ(ranges_of(cc.ranges), (ranges{{50, 99}}));
        }
    }
}

using ipv6_ranges = std::vector<ipv6_range>;

/// A temporary with both parts; no IPv6 part at all when ipv6 is empty.
std::unique_ptr<set_value> dual_with(const ranges& ipv4, const std::optional<ipv6_ranges>& ipv6)
{
    auto value = temporary_with(ipv4);
    if (ipv6) {
        value->ipv6.emplace();
        for (const ipv6_range& range : *ipv6) ipv6_list_insert(*value->ipv6, range);
    }
    return value;
}

std::optional<ipv6_ranges> ipv6_part(set_value& value)
{
    if (!value.ipv6) return std::nullopt;
    auto view = ipv6_list_view(*value.ipv6);
    return ipv6_ranges(view.begin(), view.end());
}

constexpr ipv6_address big = ipv6_from_halves(0x20010db800000000, 0);

TEST(set_value, operations_act_on_each_family_and_hold_an_ipv6_part_when_an_operand_does)
{
    using operation = std::unique_ptr<set_value> (*)(expression_value, expression_value);
    struct row {
        const char* name;
        operation op;
        std::optional<ipv6_ranges> a6, b6, expected6;
    };
    const ipv6_ranges a6{{1, 5}, {big, big + 9}};
    const ipv6_ranges b6{{4, 8}};
    const row rows[] = {
        {"union", set_value_union, a6, b6, ipv6_ranges{{1, 8}, {big, big + 9}}},
        {"union, IPv4 only", set_value_union, std::nullopt, std::nullopt, std::nullopt},
        {"union with no IPv6 part", set_value_union, std::nullopt, b6, b6},
        {"intersection", set_value_intersection, a6, b6, ipv6_ranges{{4, 5}}},
        {"intersection with no IPv6 part", set_value_intersection, a6, std::nullopt, ipv6_ranges{}},
        {"difference", set_value_difference, a6, b6, ipv6_ranges{{1, 3}, {big, big + 9}}},
        {"difference from no IPv6 part", set_value_difference, std::nullopt, b6, ipv6_ranges{}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        for (bool a_is_variable : {false, true}) {
            variable_table table;
            set_value& aa = variable_assign(table, "$aa", expression_value(dual_with({{10, 20}}, r.a6)));
            expression_value a = a_is_variable ? expression_value(aa) : expression_value(dual_with({{10, 20}}, r.a6));
            auto result = r.op(std::move(a), expression_value(dual_with({{15, 30}}, r.b6)));
            EXPECT_EQ(ipv6_part(*result), r.expected6);
            EXPECT_EQ(ipv6_part(aa), r.a6);
        }
    }
}

TEST(set_value, complement_inverts_the_ipv6_part_only_when_held_and_twice_gives_the_set_back)
{
    struct row {
        std::optional<ipv6_ranges> held, inverted;
    };
    const row rows[] = {
        {std::nullopt, std::nullopt},
        {ipv6_ranges{}, ipv6_ranges{{0, ipv6_top_address}}},
        {ipv6_ranges{{0, 0}, {big, ipv6_top_address}}, ipv6_ranges{{1, big - 1}}},
    };
    for (const row& r : rows) {
        auto once = set_value_complement(expression_value(dual_with({}, r.held)));
        EXPECT_EQ(ranges_of(once->ranges), (ranges{{0, top_address}}));
        EXPECT_EQ(ipv6_part(*once), r.inverted);
        auto twice = set_value_complement(expression_value(std::move(once)));
        EXPECT_TRUE(ranges_of(twice->ranges).empty());
        EXPECT_EQ(ipv6_part(*twice), r.held);
    }
}

TEST(set_value, assignment_and_union_in_a_variable_carry_the_ipv6_part)
{
    variable_table table;
    set_value& aa = variable_assign(table, "$aa", expression_value(dual_with({}, std::nullopt)));
    set_value& bb = variable_assign(table, "$bb", expression_value(dual_with({}, ipv6_ranges{{7, 7}})));
    variable_union_assign(aa, expression_value(aa), expression_value(bb));
    variable_union_assign(aa, expression_value(dual_with({}, ipv6_ranges{{1, 6}})), expression_value(aa));
    EXPECT_EQ(ipv6_part(aa), (ipv6_ranges{{1, 7}}));
    variable_assign(bb, expression_value(dual_with({}, std::nullopt)));
    EXPECT_EQ(ipv6_part(bb), std::nullopt);
    variable_assign(bb, expression_value(aa));
    EXPECT_EQ(ipv6_part(bb), (ipv6_ranges{{1, 7}}));
}

} // namespace
} // namespace blockset
