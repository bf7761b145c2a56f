#include "input/dotted_quad.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

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

void expect_same_quad(const dotted_quad& got, const dotted_quad& wanted, const std::string& text)
{
    EXPECT_EQ(got.length, wanted.length) << text;
    EXPECT_EQ(got.address, wanted.address) << text;
    EXPECT_EQ(got.in_bounds, wanted.in_bounds) << text;
    EXPECT_EQ(got.reached_end, wanted.reached_end) << text;
}

/// The rows, odd texts, and random runs of digits and dots, half of them quads of mostly one
/// to three digits a group.
std::vector<std::string> agreement_texts()
{
    std::vector<std::string> texts;
    for (const quad_row& row : quad_rows) texts.push_back(row.text);
    texts.insert(texts.end(), {"1.2.3.4.5.6.7.8.9", "12.34.56.78-9.8.7.6", "255.255.255.2555", "0.0.0.00000000000",
                               "1.22.333.4444", "1.2.3.4\r\n", ".1.2.3.4", "1.2.3.4/32"});
    std::mt19937 random(11);
    static const char alphabet[] = "0123456789.........-/ x";
    for (int i = 0; i < 20000; ++i) {
        std::string text;
        for (int n = 0; n < 16; ++n) text += alphabet[random() % (sizeof alphabet - 1)];
        if (i % 2 == 0) {
            text.clear();
            for (int group = 0; group < 4; ++group) {
                if (group > 0) text += '.';
                unsigned count = random() % 9 == 0 ? 4 : random() % 10 == 0 ? 0 : 1 + random() % 3;
                while (count-- > 0) text += static_cast<char>('0' + random() % 10);
            }
        }
        texts.push_back(text);
    }
    return texts;
}

// The wide readers read the 16 bytes at the start of the text: the scalar one and, where the
// processor has it, the vector one must give what the checked reader gives.
TEST(dotted_quad, wide_readers_agree_with_the_checked_reader)
{
    const bool vector = vector_quads_available();
    for (const std::string& text : agreement_texts()) {
        std::string padded = text + std::string(dotted_quad_detail::unchecked_room, ' ');
        dotted_quad wanted = read_dotted_quad(padded);
        expect_same_quad(read_dotted_quad_wide(padded.data()), wanted, text);
        if (vector) expect_same_quad(read_dotted_quad_vector(padded.data()), wanted, "vector: " + text);
    }
    if (!vector) GTEST_SKIP() << "this processor has no SSE4.1: only the scalar reader was compared";
}

} // namespace
} // namespace blockset
