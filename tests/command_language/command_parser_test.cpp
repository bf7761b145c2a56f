#include <cstddef>
#include <gtest/gtest.h>
#include <string>

#include "command_language/script_run.h"
#include "io/diagnostics.h"
#include "test_support.h"

namespace blockset {
namespace {

/// The messages of a one-line script run, the line number of a syntax error left out (the
/// process's line count goes on from earlier runs).
std::string messages_of(const std::string& script)
{
    diagnostic_capture messages;
    run_script_text(script);
    std::string text = messages.text();
    std::size_t at = text.find(" on line: ");
    return at == std::string::npos ? text : text.substr(0, at) + "\n";
}

const std::string not_assigned = "Variable '$aa' does not exist.\n";
const std::string syntax_error = "error: syntax error\n";

TEST(command_parser, a_variable_is_resolved_only_before_a_closing_paren_semicolon_or_comma)
{
    EXPECT_EQ(messages_of("$aa ;"), not_assigned);
    EXPECT_EQ(messages_of("$aa , ;"), not_assigned + syntax_error);
    EXPECT_EQ(messages_of("$aa ) ;"), not_assigned + syntax_error);
    EXPECT_EQ(messages_of("$aa = {}; $aa;"), "");
    EXPECT_EQ(messages_of("$aa"), syntax_error);
    // Every other kind of token stops the parse before the name is looked up.
    for (const char* token : {"{", "}", "(", "load", "save", "union", "difference", "intersect", "invert",
             "stdin", "stdout", "text", "cidr", "single", "range", "p2b", "10.0.0.0/8", "10.0.0.1-10.0.0.2",
             "10.0.0.1", "host.example", "$bb", "\"path\""}) {
        EXPECT_EQ(messages_of(std::string("$aa ") + token + " ;"), syntax_error) << token;
    }
}

TEST(command_parser, a_set_literal_unioned_into_the_variable_it_is_assigned_to_adds_to_it)
{
    const struct {
        const char* script;
        const char* listing;
    } cases[] = {
        {"$aa = {10.0.0.1}; $aa = union($aa, {});", "10.0.0.1-10.0.0.1\n"},
        {"$aa = {10.0.0.1}; $aa = union($aa, {10.0.0.2, 999.0.0.1, 10.0.0.9-10.0.0.5, 10.0.0.8/31});",
         "10.0.0.1-10.0.0.2\n10.0.0.8-10.0.0.9\n"},
        {"$aa = {10.0.0.1}; $aa = union(union($aa, {10.0.0.2}), {10.0.0.3});", "10.0.0.1-10.0.0.3\n"},
        {"$aa = {10.0.0.1}; $aa = union($aa = {10.0.0.5}, {10.0.0.4});", "10.0.0.4-10.0.0.5\n"},
        {"$aa = {10.0.0.1}; $aa = union($aa, $aa = {10.0.0.7});", "10.0.0.7-10.0.0.7\n"},
        {"$aa = {10.0.0.1}; $bb = $aa = union($aa, {10.0.0.2}); $aa = {}; $aa = $bb;", "10.0.0.1-10.0.0.2\n"},
        {"$aa = {10.0.0.1}; $bb = union($aa, {10.0.0.2}); $aa = union($aa, {10.0.0.3}); $aa = union($aa, $bb);",
         "10.0.0.1-10.0.0.3\n"},
        // Set literals read after one that was unioned in start empty.
        {"$aa = {10.0.0.1}; $aa = union($aa, {10.0.0.2}); $aa = {10.0.0.9};", "10.0.0.9-10.0.0.9\n"},
        {"$aa = {10.0.0.1}; $bb = union($aa, {10.0.0.2}); $aa = union($aa, {10.0.0.5}); $aa = union($aa, {});",
         "10.0.0.1-10.0.0.1\n10.0.0.5-10.0.0.5\n"},
    };
    for (const auto& c : cases) {
        testing::output_capture output;
        EXPECT_EQ(messages_of(std::string(c.script) + "save(range, stdout, $aa);"), "") << c.script;
        EXPECT_EQ(output.text(), c.listing) << c.script;
    }
    testing::output_capture output;
    EXPECT_EQ(messages_of("$aa = union($aa, {10.0.0.1}); save(range, stdout, $aa);"), not_assigned);
    EXPECT_EQ(output.text(), "10.0.0.1-10.0.0.1\n");
}

} // namespace
} // namespace blockset
