#pragma once
#include <string_view>

#include "ranges/ip_range.h"

namespace blockset {

/// A token's text and, for an address literal whose numbers were read while it was matched,
/// what the literal adds.
struct token_value {
    /// The token's text (a string's without its quotes), valid until the next token is read.
    std::string_view text;
    /// The numbers were read; otherwise the literal is converted from its text.
    bool read = false;
    /// With read: the literal passed its checks (groups below 256, a prefix length of at most
    /// 32) and adds range, which may still be reversed and then adds nothing.
    bool adds = false;
    ip_range range{};
};

} // namespace blockset
