#pragma once
#include <cstddef>
#include <string>

namespace blockset {

/// How a statement's set argument was written, as far as its name depends on it.
struct set_argument {
    enum class form { variable, load, other } how = form::other;
    std::string text; ///< a variable's name with its "$", or a load's path ("stdin" for none)
};

/// The name a statement gives its set argument at position (from 1): a variable is named by
/// its name as written ("$drop"), a load by its path as written, any other expression "#K".
std::string set_argument_name(const set_argument& argument, std::size_t position);

} // namespace blockset
