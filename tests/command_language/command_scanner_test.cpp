#include "command_language/command_scanner.h"

#include <algorithm>
#include <string>

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

/// A scan of the whole text with the command scanner: the tokens as "KIND" or "KIND(text)"
/// with each echoed byte as "echo(x)" in its place, and the line feeds counted.
struct scan_result {
    std::string tokens;
    int lines;
};

scan_result scan_all(const std::string& text)
{
    testing::output_capture capture;
    std::string out;
    std::size_t echoed = 0;
    scanner& instance = command_scanner();
    const int start_line = instance.line_number();
    instance.restart(text);
    for (;;) {
        token_value token;
        command_token kind = command_scanner_next_token(instance, token);
        for (std::string bytes = capture.text(); echoed < bytes.size(); ++echoed) {
            out += "echo(";
            out += bytes[echoed];
            out += ") ";
        }
        if (kind == END_OF_INPUT) break;
        out += token_name(kind);
        if (kind >= CIDR_LITERAL && kind <= STRING) out.append("(").append(token.text).append(")");
        out += " ";
    }
    if (!out.empty()) out.pop_back();
    return {out, instance.line_number() - start_line};
}

TEST(command_scanner, rules_longest_match_echo_and_line_count)
{
    const std::string long_host(30000, 'h');
    const struct {
        std::string text;
        std::string tokens;
        int lines;
    } cases[] = {
        {"load save union difference intersect invert stdin stdout text cidr single range p2b ",
         "KW_LOAD KW_SAVE KW_UNION KW_DIFFERENCE KW_INTERSECT KW_INVERT KW_STDIN KW_STDOUT KW_TEXT KW_CIDR "
         "KW_SINGLE KW_RANGE KW_P2B",
         0},
        {"{}();=,", "LBRACE RBRACE LPAREN RPAREN SEMICOLON EQUALS COMMA", 0},
        {"1234.1.1.1", "echo(1) ADDRESS_LITERAL(234.1.1.1)", 0},
        {"1.2.3.4/123", "CIDR_LITERAL(1.2.3.4/12) echo(3)", 0},
        {"1.2.3.4.5", "ADDRESS_LITERAL(1.2.3.4) echo(.) echo(5)", 0},
        {"1.2.3.4-x", "ADDRESS_LITERAL(1.2.3.4) echo(-) HOST_NAME(x)", 0},
        {"10.0.0.1-10.0.0.9", "RANGE_LITERAL(10.0.0.1-10.0.0.9)", 0},
        {"1.2.3.4 - 5.6.7.8", "ADDRESS_LITERAL(1.2.3.4) echo(-) ADDRESS_LITERAL(5.6.7.8)", 0},
        {"999.1.1.1 1.2.3.4/33", "ADDRESS_LITERAL(999.1.1.1) CIDR_LITERAL(1.2.3.4/33)", 0},
        // Variables: "$", a letter, then at least one more letter, digit or "_".
        {"$a", "echo($) HOST_NAME(a)", 0},
        {"$ab", "VARIABLE($ab)", 0},
        {"$1a", "echo($) echo(1) HOST_NAME(a)", 0},
        {"$a_b-c", "VARIABLE($a_b) echo(-) HOST_NAME(c)", 0},
        // Host names, and keywords, which a letter, a digit, or a "-" or "." that continues a
        // host name make host names.
        {"a_b", "HOST_NAME(a) echo(_) HOST_NAME(b)", 0},
        {"x.y.", "HOST_NAME(x.y) echo(.)", 0},
        {"a.1b ", "HOST_NAME(a) echo(.) echo(1) HOST_NAME(b)", 0},
        {"gw--2-.lan", "HOST_NAME(gw--2-.lan)", 0},
        {"LOAD", "HOST_NAME(LOAD)", 0},
        {"loader p2b1", "HOST_NAME(loader) HOST_NAME(p2b1)", 0},
        {"load-x load.x load-- ", "HOST_NAME(load-x) HOST_NAME(load.x) HOST_NAME(load--)", 0},
        {"load- ", "KW_LOAD echo(-)", 0},
        {"load. ", "KW_LOAD echo(.)", 0},
        {"load(", "KW_LOAD LPAREN", 0},
        {"load\n", "KW_LOAD", 1},
        {"load", "HOST_NAME(load)", 0},
        {"text_", "KW_TEXT echo(_)", 0},
        {std::string(20000, ' ') + "save " + long_host, "KW_SAVE HOST_NAME(" + long_host + ")", 0},
        // Strings run to the next double quote on the line.
        {"\"\"", "STRING()", 0},
        {"\"a;#b \r\"\r\r", "STRING(a;#b \r)", 0},
        {"\"abc\ndef\"", "echo(\") HOST_NAME(abc) HOST_NAME(def) echo(\")", 1},
        // Comments run to and include a line feed; line feeds count lines, carriage returns not.
        {"// x;\n#y\n;", "SEMICOLON", 2},
        {"//x", "echo(/) echo(/) HOST_NAME(x)", 0},
        {"a\nb\n", "HOST_NAME(a) HOST_NAME(b)", 2},
        {"a\r\nb\r\n", "HOST_NAME(a) HOST_NAME(b)", 2},
    };
    for (const auto& c : cases) {
        // As the first token, and after one.
        for (const std::string before : {"", ";"}) {
            scan_result got = scan_all(before + c.text);
            const std::string after = c.tokens.empty() ? "" : " " + c.tokens;
            const std::string expected = before.empty() ? c.tokens : "SEMICOLON" + after;
            EXPECT_EQ(got.tokens, expected) << c.text.substr(0, 40);
            EXPECT_EQ(got.lines, c.lines) << c.text.substr(0, 40);
        }
    }
}

TEST(command_scanner, numbers_read_while_scanning_add_what_the_literal_text_adds)
{
    const char* const literals[] = {"1.22.133.4", "255.255.255.255", "0.0.0.0", "256.1.1.1", "1.2.3.4",
                                    "10.1.2.3/8", "10.1.2.3/0", "1.2.3.4/33", "10.0.0.9-10.0.0.1", "1.1.1.1-2.2.2.2",
                                    "9.9.9.9-9.9.9.256", "001.002.003.004"};
    for (const std::string literal : literals) {
        // Last in the text, and ended by a byte. (The brace has the scanner take in the text.)
        for (const std::string& text : {"{" + literal, "{" + literal + ";"}) {
            scanner& instance = command_scanner();
            instance.restart(text);
            token_value value;
            ASSERT_EQ(command_scanner_next_token(instance, value), LBRACE);
            command_token kind = command_scanner_next_token(instance, value);
            ASSERT_EQ(value.text, literal);
            ASSERT_TRUE(value.read) << text;
            range_list from_text;
            if (kind == CIDR_LITERAL) add_cidr_literal(from_text, literal);
            if (kind == RANGE_LITERAL) add_range_literal(from_text, literal);
            if (kind == ADDRESS_LITERAL) add_address_literal(from_text, literal);
            range_list from_numbers;
            if (value.adds) range_list_insert(from_numbers, value.range);
            EXPECT_EQ(testing::ranges_of(from_numbers), testing::ranges_of(from_text)) << text;
        }
    }
}

TEST(command_scanner, tokens_split_by_any_refill_scan_as_whole_ones)
{
    // A piece repeated after a growing run of blanks, so that the refills of the held storage
    // cut it at every offset: each copy must give the piece's tokens and count its two lines.
    const std::string piece = "$aa = union($aa, {166.163.164.80, 10.0.0.0/8,1.2.3.4-1.2.3.9});\r\n"
                              "save(cidr, stdout, $aa); x.lan\t \"s\" # h\n";
    const scan_result one = scan_all(piece);
    ASSERT_EQ(std::count(one.tokens.begin(), one.tokens.end(), ' '), 25) << one.tokens;
    std::string text, expected;
    const int copies = 4000;
    for (int n = 0; n < copies; ++n) {
        text += std::string(n % 128, ' ') + piece;
        expected += (n > 0 ? " " : "") + one.tokens;
    }
    scan_result all = scan_all(text);
    auto differ = std::mismatch(all.tokens.begin(), all.tokens.end(), expected.begin(), expected.end()).first;
    EXPECT_TRUE(all.tokens == expected) << "the first difference at byte " << differ - all.tokens.begin();
    EXPECT_EQ(all.lines, 2 * copies);
}

} // namespace
} // namespace blockset
