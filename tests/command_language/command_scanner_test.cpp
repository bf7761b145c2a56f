#include "command_language/command_scanner.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "input/entry_literals.h"
#include "parsing/scanner.h"
#include "ranges/range_list.h"
#include "test_support.h"

namespace blockset {
namespace {

const char* token_name(command_token kind)
{
    static const char* const names[] = {
        "KW_LOAD", "KW_SAVE", "KW_UNION", "KW_DIFFERENCE", "KW_INTERSECT", "KW_INVERT", "KW_STDIN",
        "KW_STDOUT", "KW_TEXT", "KW_CIDR", "KW_SINGLE", "KW_RANGE", "KW_P2B", "CIDR_LITERAL",
        "RANGE_LITERAL", "ADDRESS_LITERAL", "HOST_NAME", "VARIABLE", "STRING", "LBRACE", "RBRACE",
        "LPAREN", "RPAREN", "EQUALS", "SEMICOLON", "COMMA",
    };
    return names[kind - KW_LOAD];
}

/// Scans the whole text with a fresh instance of the command rules; returns the tokens as
/// "KIND" or "KIND(text)", echoed bytes as "echo(x)" in the order they happen, and the final
/// line number.
struct scan_result {
    std::string tokens;
    int line_number;
};

scan_result scan_all(const std::string& text)
{
    testing::output_capture capture;
    std::string out;
    std::size_t echoed = 0;
    auto take_echo = [&] {
        std::string bytes = capture.text();
        for (; echoed < bytes.size(); ++echoed) {
            out += "echo(";
            out += bytes[echoed];
            out += ") ";
        }
    };
    scanner& instance = command_scanner();
    int start_line = instance.line_number();
    instance.restart(text);
    for (;;) {
        command_token_value token;
        command_token kind = command_scanner_next_token(instance, token);
        std::string_view value = token.text;
        take_echo();
        if (kind == END_OF_INPUT) break;
        out += token_name(kind);
        if (kind >= CIDR_LITERAL && kind <= STRING) {
            out += '(';
            out.append(value);
            out += ')';
        }
        out += " ";
    }
    if (!out.empty()) out.pop_back();
    return {out, instance.line_number() - start_line + 1};
}

struct token_case {
    const char* text;
    const char* tokens;
};

TEST(command_scanner, rules_and_longest_match)
{
    const token_case cases[] = {
        {"load save union difference intersect invert stdin stdout text cidr single range p2b ",
         "KW_LOAD KW_SAVE KW_UNION KW_DIFFERENCE KW_INTERSECT KW_INVERT KW_STDIN KW_STDOUT KW_TEXT KW_CIDR "
         "KW_SINGLE KW_RANGE KW_P2B"},
        {"{}();=,", "LBRACE RBRACE LPAREN RPAREN SEMICOLON EQUALS COMMA"},
        {"1234.1.1.1", "echo(1) ADDRESS_LITERAL(234.1.1.1)"},
        {"1.2.3.4/123", "CIDR_LITERAL(1.2.3.4/12) echo(3)"},
        {"1.2.3.4.5", "ADDRESS_LITERAL(1.2.3.4) echo(.) echo(5)"},
        {"1.2.3.4-x", "ADDRESS_LITERAL(1.2.3.4) echo(-) HOST_NAME(x)"},
        {"10.0.0.1-10.0.0.9", "RANGE_LITERAL(10.0.0.1-10.0.0.9)"},
        {"1.2.3.4 - 5.6.7.8", "ADDRESS_LITERAL(1.2.3.4) echo(-) ADDRESS_LITERAL(5.6.7.8)"},
        {"999.1.1.1 1.2.3.4/33", "ADDRESS_LITERAL(999.1.1.1) CIDR_LITERAL(1.2.3.4/33)"},
        {"$a", "echo($) HOST_NAME(a)"},
        {"$ab", "VARIABLE($ab)"},
        {"$1a", "echo($) echo(1) HOST_NAME(a)"},
        {"$a_b-c", "VARIABLE($a_b) echo(-) HOST_NAME(c)"},
        {"a_b", "HOST_NAME(a) echo(_) HOST_NAME(b)"},
        {"x.y.", "HOST_NAME(x.y) echo(.)"},
        {"gw--2-.lan", "HOST_NAME(gw--2-.lan)"},
        {"LOAD", "HOST_NAME(LOAD)"},
        {"load", "HOST_NAME(load)"},
        {"loader p2b1", "HOST_NAME(loader) HOST_NAME(p2b1)"},
        {"load-x load.x load-- ", "HOST_NAME(load-x) HOST_NAME(load.x) HOST_NAME(load--)"},
        {"load- ", "KW_LOAD echo(-)"},
        {"load. ", "KW_LOAD echo(.)"},
        {"load(", "KW_LOAD LPAREN"},
        {"text_", "KW_TEXT echo(_)"},
        {"\"\"", "STRING()"},
        {"\"a;#b \r\"", "STRING(a;#b \r)"},
        {"\"abc\ndef", "echo(\") HOST_NAME(abc) HOST_NAME(def)"},
        {"// x;\n#y\n;", "SEMICOLON"},
        {"# no newline", "echo(#) HOST_NAME(no) HOST_NAME(newline)"},
        {"//x", "echo(/) echo(/) HOST_NAME(x)"},
        {"!^[", "echo(!) echo(^) echo([)"},
    };
    for (const token_case& c : cases) {
        EXPECT_EQ(scan_all(c.text).tokens, c.tokens) << c.text;
    }
    EXPECT_EQ(scan_all(std::string("a\0b", 3)).tokens, std::string("HOST_NAME(a) echo(\0) HOST_NAME(b)", 33));
}

TEST(command_scanner, counts_newlines_consumed_before_each_token)
{
    const struct {
        const char* text;
        int lines;
    } cases[] = {
        {"", 1},
        {"a\nb\n", 3},
        {"a\r\nb\r\n", 3},
        {"load\n", 2},
        {"// c\n# d\n", 3},
        {"\"x\"\r\r", 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(scan_all(c.text).line_number, c.lines) << c.text;
    }
}

TEST(command_scanner, keyword_at_end_of_a_long_input_is_found_across_refills)
{
    std::string text(20000, ' ');
    text += "save ";
    text += std::string(30000, 'h');
    EXPECT_EQ(scan_all(text).tokens, "KW_SAVE HOST_NAME(" + std::string(30000, 'h') + ")");
}

TEST(command_scanner, held_bytes_match_as_the_rules_do_or_are_left_to_them)
{
    // Every piece of each text, as if the held bytes ended anywhere: the quick match must be
    // the rules' own, whether or not the input ends there, or else no match at all.
    const char* const texts[] = {
        "$aa = union($aa, {166.163.164.80});\n", "load-x load.x load-- load- load. load(", "text_ p2b1 LOAD",
        "gw--2-.lan x.y. a_b", "10.0.0.1-10.0.0.9,1.2.3.4/123 1234.1.1.1;999.1.1.1.5)", "1.2.3.4 - 5.6.7.8/",
        "$ab $a $1a $a_b-c $x9_", "\t \r\n \n\t", "\"s\" // c\n# d\n/x", "difference(intersect(invert(",
        // Addresses of every digit count, with room after them for the vector reader.
        "1.22.133.4 255.255.255.255}256.1.1.1,1.2.3.4444 001.2.3.45.6 1.2.3;1.2..3.4 9.9.9.9/2-1 "
        "                                ",
    };
    for (std::string_view text : texts) {
        for (std::size_t start = 0; start < text.size(); ++start) {
            for (std::size_t end = start + 1; end <= text.size(); ++end) {
                std::string_view held = text.substr(start, end - start);
                scan_match quick = command_scan_held(held);
                if (quick.rule == no_rule) continue;
                for (bool input_ended : {false, true}) {
                    bool needs_more = false;
                    scan_match rules = command_scan_rules(held, input_ended, needs_more);
                    EXPECT_FALSE(needs_more) << held;
                    EXPECT_EQ(quick.rule, rules.rule) << held;
                    EXPECT_EQ(quick.length, rules.length) << held;
                }
            }
        }
    }
    // The usual tokens, each followed by a byte that ends it, are matched from the held bytes.
    const char* const usual[] = {"$aa ", "union(", "1.2.3.4}", "10.0.0.0/8,", "1.2.3.4-1.2.3.9 ",
                                 "host.lan;", "  x", "\n", "\r", "{", ";"};
    for (std::string_view text : usual) {
        EXPECT_NE(command_scan_held(text).rule, no_rule) << text;
    }
}

TEST(command_scanner, numbers_read_while_scanning_add_what_the_literal_text_adds)
{
    const char* const literals[] = {"1.22.133.4", "255.255.255.255", "0.0.0.0", "256.1.1.1", "1.2.3.4",
                                    "10.1.2.3/8", "10.1.2.3/0", "1.2.3.4/33", "10.0.0.9-10.0.0.1", "1.1.1.1-2.2.2.2",
                                    "9.9.9.9-9.9.9.256", "001.002.003.004"};
    for (const std::string literal : literals) {
        // Last, where the end of the text leaves it to the rules; ended by a byte; with room
        // after it for the vector reader. (The brace has the scanner take in the text.)
        int read = 0;
        for (const std::string& text : {"{" + literal, "{" + literal + ";", "{" + literal + std::string(40, ' ')}) {
            scanner& instance = command_scanner();
            instance.restart(text);
            command_token_value value;
            ASSERT_EQ(command_scanner_next_token(instance, value), LBRACE);
            command_token kind = command_scanner_next_token(instance, value);
            ASSERT_EQ(value.text, literal);
            range_list from_text;
            if (kind == CIDR_LITERAL) add_cidr_literal(from_text, literal);
            if (kind == RANGE_LITERAL) add_range_literal(from_text, literal);
            if (kind == ADDRESS_LITERAL) add_address_literal(from_text, literal);
            if (!value.read) continue;
            ++read;
            range_list from_numbers;
            if (value.adds) range_list_add_range(from_numbers, value.range.first, value.range.last);
            EXPECT_EQ(testing::ranges_of(from_numbers), testing::ranges_of(from_text)) << text;
        }
        EXPECT_GE(read, 2) << literal;
    }
}

TEST(command_scanner, tokens_split_by_any_refill_scan_as_whole_ones)
{
    // A piece repeated after a growing run of blanks, so that the refills of the held storage
    // cut it at every offset: each copy must give the piece's tokens and count its two lines.
    const std::string piece = "$aa = union($aa, {166.163.164.80, 10.0.0.0/8,1.2.3.4-1.2.3.9});\r\n"
                              "save(cidr, stdout, $aa); x.lan\t \"s\" # h\n";
    struct token {
        command_token kind;
        std::string text;
        bool operator==(const token&) const = default;
    };
    auto scan = [](const std::string& text) {
        std::vector<token> tokens;
        scanner& instance = command_scanner();
        instance.restart(text);
        command_token_value value;
        for (command_token kind; (kind = command_scanner_next_token(instance, value)) != END_OF_INPUT;) {
            tokens.push_back({kind, kind >= CIDR_LITERAL && kind <= STRING ? std::string(value.text) : ""});
        }
        return tokens;
    };
    const std::vector<token> one = scan(piece);
    ASSERT_EQ(one.size(), 26u);
    std::string text;
    const int copies = 4000;
    for (int n = 0; n < copies; ++n) text += std::string(n % 128, ' ') + piece;
    const int start_line = command_scanner().line_number();
    const std::vector<token> all = scan(text);
    EXPECT_EQ(command_scanner().line_number() - start_line, 2 * copies);
    ASSERT_EQ(all.size(), one.size() * copies);
    for (std::size_t i = 0; i < all.size(); ++i) {
        ASSERT_TRUE(all[i] == one[i % one.size()]) << "token " << i << ": " << all[i].text;
    }
}

} // namespace
} // namespace blockset
