#include "command_language/set_argument_name.h"

#include <string>

namespace blockset {

std::string set_argument_name(const set_argument& argument, std::size_t position)
{
    if (argument.how != set_argument::form::other) return argument.text;
    std::string name = "#";
    name += std::to_string(position);
    return name;
}

} // namespace blockset
