#include "input/literal_patterns.h"

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "input/entry_literals.h"
#include "literal_samples.h"
#include "test_support.h"

namespace blockset {
namespace {

using testing::near_literal;
using testing::ranges_of;

/// What the general conversion makes of the text of a matched literal.
std::vector<ip_range> converted(literal_form form, std::string_view text)
{
    range_list list;
    if (form == literal_form::cidr) add_cidr_literal(list, text);
    if (form == literal_form::range) add_range_literal(list, text);
    if (form == literal_form::address) add_address_literal(list, text);
    return ranges_of(list);
}

/// What the one-pass read says the literal adds.
std::vector<ip_range> read_adds(const address_literal_read& read)
{
    range_list list;
    if (read.in_bounds) {
        std::uint32_t last = read.address;
        if (read.form == literal_form::cidr) last = block_last_address(read.address, read.second);
        if (read.form == literal_form::range) last = read.second;
        range_list_insert(list, {read.address, last});
    }
    return ranges_of(list);
}

TEST(literal_patterns, one_pass_read_agrees_with_the_match_and_the_conversion)
{
    std::mt19937 random(2024);
    int literals = 0;
    for (int round = 0; round < 200000; ++round) {
        std::string text = near_literal(random);
        while (text.size() < literal_window) text += near_literal(random);
        bool needs_more = false;
        address_literal_match match = match_address_literals(pattern_text(text, true, needs_more));
        address_literal_read read = read_address_literal(text.data());
        literal_form form = match.cidr ? literal_form::cidr
                            : match.range ? literal_form::range
                            : match.address ? literal_form::address
                                            : literal_form::none;
        std::size_t length = match.cidr ? match.cidr : match.range ? match.range : match.address;
        ASSERT_EQ(read.form, form) << text;
        if (form == literal_form::none) continue;
        ++literals;
        ASSERT_EQ(read.length, length) << text;
        ASSERT_EQ(read_adds(read), converted(form, std::string_view(text).substr(0, length))) << text;
    }
    EXPECT_GT(literals, 100000);
}

struct read_case {
    const char* text;
    literal_form form;
    std::size_t length;
    bool in_bounds;
};

class literal_reading : public ::testing::TestWithParam<read_case> {};

TEST_P(literal_reading, finds_the_longest_form_and_checks_its_numbers)
{
    const read_case& row = GetParam();
    std::string text = row.text;
    text.resize(literal_window, '\n');
    address_literal_read read = read_address_literal(text.data());
    EXPECT_EQ(read.form, row.form) << row.text;
    if (row.form == literal_form::none) return;
    EXPECT_EQ(read.length, row.length) << row.text;
    EXPECT_EQ(read.in_bounds, row.in_bounds) << row.text;
}

INSTANTIATE_TEST_SUITE_P(
    literal_patterns, literal_reading,
    ::testing::Values(read_case{"255.255.255.255-255.255.255.255", literal_form::range, 31, true},
                      read_case{"0.0.0.0/32", literal_form::cidr, 10, true},
                      read_case{"0.0.0.0/33", literal_form::cidr, 10, false},
                      read_case{"1.2.3.4/123", literal_form::cidr, 10, true},
                      read_case{"1.2.3.4/", literal_form::address, 7, true},
                      read_case{"1.2.3.4-5.6.7", literal_form::address, 7, true},
                      read_case{"1.2.3.4-5.6.7.256", literal_form::range, 17, false},
                      read_case{"256.2.3.4-5.6.7.8", literal_form::range, 17, false},
                      read_case{"1.2.3.2345", literal_form::address, 9, true},
                      read_case{"1.2.3.4567", literal_form::address, 9, false},
                      read_case{"1.2.3.999", literal_form::address, 9, false},
                      read_case{"1234.1.1.1", literal_form::none, 0, false},
                      read_case{"1.2.3", literal_form::none, 0, false},
                      read_case{"1..2.3", literal_form::none, 0, false}),
                         testing::named_by<&read_case::text>());

} // namespace
} // namespace blockset
