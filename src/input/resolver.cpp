#include "input/resolver.h"

namespace blockset {

namespace {
resolver active = {&::getaddrinfo, &::freeaddrinfo};
} // namespace

const resolver& current_resolver() { return active; }

resolver_override::resolver_override(const resolver& replacement) : previous_(active)
{
    active = replacement;
}

resolver_override::~resolver_override() { active = previous_; }

} // namespace blockset
