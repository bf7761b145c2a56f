#pragma once
#include <cstdint>
#include <string_view>

#include "ranges/ip_range.h"
#include "ranges/ipv6_range.h"

namespace blockset {

/// Takes the entries of a list as its reader finds them, in file order: what an entry adds,
/// the line it starts on (for P2B the record number), and its text as the list writes it,
/// without the blanks, comments and labels around it. A text entry that names a host hands
/// on each address of the host with the same line and text.
class entry_consumer {
public:
    virtual ~entry_consumer() = default;
    virtual void take(ip_range range, std::uint64_t line, std::string_view text) = 0;
    virtual void take_ipv6(const ipv6_range& range, std::uint64_t line, std::string_view text) = 0;
};

} // namespace blockset
