#include "input/dotted_quad.h"

#include <gtest/gtest.h>

#include <string>

namespace blockset {
namespace {

struct quad_row {
    const char* text;
    std::size_t length;
    std::uint32_t address;
    bool in_bounds;
    bool reached_end;
};

// Each row is read twice: as written, and with enough bytes after it that the read takes
// its unchecked path (only reached_end may differ then).
const quad_row quad_rows[] = {
    {"0.0.0.0", 7, 0, true, true},
    {"255.255.255.255", 15, 0xFFFFFFFFu, true, true},
    {"1.2.3.4 ", 7, 0x01020304u, true, false},
    {"001.002.003.004x", 15, 0x01020304u, true, false},
    {"1.2.3.4567", 9, 0x010203E1u, false, false},
    {"1.2.3.256", 9, 0, false, true},
    {"999.0.0.1/8", 9, 0, false, false},
    {"1.2.3", 0, 0, false, true},
    {"1.2.3.", 0, 0, false, true},
    {"1..3.4", 0, 0, false, false},
    {"1.2.3.a", 0, 0, false, false},
    {"1234.1.1.1", 0, 0, false, false},
    {"", 0, 0, false, true},
    {"x", 0, 0, false, false},
};

TEST(dotted_quad, reads_the_quad_at_the_start)
{
    for (const quad_row& row : quad_rows) {
        std::string text = row.text;
        dotted_quad quad = read_dotted_quad(text);
        EXPECT_EQ(quad.length, row.length) << text;
        EXPECT_EQ(quad.in_bounds, row.in_bounds) << text;
        if (row.in_bounds) {
            EXPECT_EQ(quad.address, row.address) << text;
        }
        EXPECT_EQ(quad.reached_end, row.reached_end) << text;

        std::string padded = text + std::string(20, ' ');
        dotted_quad unchecked = read_dotted_quad(padded);
        EXPECT_EQ(unchecked.length, row.length) << text;
        EXPECT_EQ(unchecked.in_bounds, row.in_bounds) << text;
        EXPECT_EQ(unchecked.address, quad.address) << text;
        EXPECT_FALSE(unchecked.reached_end) << text;
    }
}

TEST(dotted_quad, reads_one_or_two_prefix_digits)
{
    struct row {
        const char* text;
        std::size_t length;
        unsigned value;
        bool reached_end;
    };
    const row rows[] = {
        {"8", 1, 8, true}, {"24", 2, 24, false}, {"32 ", 2, 32, false}, {"333", 2, 33, false},
        {"7x", 1, 7, false}, {"x", 0, 0, false}, {"", 0, 0, true},
    };
    for (const row& r : rows) {
        prefix_digits prefix = read_prefix_digits(r.text);
        EXPECT_EQ(prefix.length, r.length) << r.text;
        EXPECT_EQ(prefix.value, r.value) << r.text;
        EXPECT_EQ(prefix.reached_end, r.reached_end) << r.text;
    }
}

} // namespace
} // namespace blockset
