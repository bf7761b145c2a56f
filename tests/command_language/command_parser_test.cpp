#include <cstddef>
#include <gtest/gtest.h>
#include <string>

#include "command_language/script_run.h"
#include "io/diagnostics.h"

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

} // namespace
} // namespace blockset
