#pragma once

namespace blockset {

/// The invocation name for the usage text: argv[0] without any leading directory part.
const char* program_name(const char* argv0);

/// Options in front of the first operand, read the strict POSIX way: no reordering of
/// arguments and no environment influence. Calls letter(c) for each option letter found,
/// known or not (telling them apart, and reporting an unknown one, is the caller's work),
/// and returns the index of the first operand.
template <typename on_letter>
int parse_options(int argc, char** argv, on_letter letter)
{
    int index = 1;
    while (index < argc) {
        const char* argument = argv[index];
        if (argument[0] != '-' || argument[1] == '\0') break;
        ++index;
        if (argument[1] == '-' && argument[2] == '\0') break;
        for (const char* c = argument + 1; *c != '\0'; ++c) letter(*c);
    }
    return index;
}

} // namespace blockset
