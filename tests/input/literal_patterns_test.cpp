#include "input/literal_patterns.h"

#include <string>

#include <gtest/gtest.h>

#include "test_support.h"

namespace blockset {
namespace {

struct read_case {
    const char* text;
    literal_form form;
    std::size_t length;
    bool in_bounds;
    bool reached_end; // more text could lengthen the literal
};

class literal_reading : public ::testing::TestWithParam<read_case> {};

TEST_P(literal_reading, finds_the_longest_form_and_checks_its_numbers)
{
    const read_case& row = GetParam();
    address_literal literal = read_address_literal(row.text);
    EXPECT_EQ(literal.form, row.form) << row.text;
    EXPECT_EQ(literal.reached_end, row.reached_end) << row.text;
    if (row.form == literal_form::none) return;
    EXPECT_EQ(literal.length, row.length) << row.text;
    EXPECT_EQ(literal.in_bounds, row.in_bounds) << row.text;
}

INSTANTIATE_TEST_SUITE_P(
    literal_patterns, literal_reading,
    ::testing::Values(read_case{"255.255.255.255-255.255.255.255", literal_form::range, 31, true, true},
                      read_case{"1.2.3.4-5.6.7.8 ", literal_form::range, 15, true, false},
                      read_case{"0.0.0.0/32", literal_form::cidr, 10, true, false},
                      read_case{"0.0.0.0/3", literal_form::cidr, 9, true, true},
                      read_case{"0.0.0.0/33", literal_form::cidr, 10, false, false},
                      read_case{"1.2.3.4/123", literal_form::cidr, 10, true, false},
                      read_case{"1.2.3.4/", literal_form::address, 7, true, true},
                      read_case{"1.2.3.4/x", literal_form::address, 7, true, false},
                      read_case{"1.2.3.4", literal_form::address, 7, true, true},
                      read_case{"1.2.3.4-5.6.7", literal_form::address, 7, true, true},
                      read_case{"1.2.3.4-5.6.7 ", literal_form::address, 7, true, false},
                      read_case{"1.2.3.4-5.6.7.256", literal_form::range, 17, false, true},
                      read_case{"256.2.3.4-5.6.7.8\n", literal_form::range, 17, false, false},
                      read_case{"1.2.3.2345", literal_form::address, 9, true, false},
                      read_case{"1.2.3.999 ", literal_form::address, 9, false, false},
                      read_case{"1234.1.1.1", literal_form::none, 0, false, false},
                      read_case{"1.2.3", literal_form::none, 0, false, true},
                      read_case{"1..2.3", literal_form::none, 0, false, false}),
    testing::named_by<&read_case::text>());

TEST(literal_patterns, scanner_rules_number_the_forms_and_ask_for_more_input_while_it_may_follow)
{
    for (bool input_ended : {false, true}) {
        bool needs_more = false;
        EXPECT_EQ(match_address_rules("1.2.3.4-5.6.7.8", input_ended, needs_more, 10).rule, 11);
        EXPECT_EQ(needs_more, !input_ended);
        needs_more = false;
        scan_match cidr = match_address_rules("1.2.3.4/24 ", input_ended, needs_more, 10);
        EXPECT_EQ(cidr.rule, 10);
        EXPECT_EQ(cidr.length, 10u);
        EXPECT_EQ(match_address_rules("1.2.3.4 ", input_ended, needs_more, 10).rule, 12);
        EXPECT_EQ(match_address_rules("1.2.3 ", input_ended, needs_more, 10).rule, no_rule);
        EXPECT_FALSE(needs_more);
    }
}

} // namespace
} // namespace blockset
