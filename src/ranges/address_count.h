#pragma once
#include <string>

#include "ranges/ipv6_range.h"

namespace blockset {

/// A number of addresses of either family, exact: up to 2^128, the whole IPv6 space, which
/// one 128-bit number cannot hold (whole is then set and low is 0).
struct address_count {
    ipv6_address low = 0;
    bool whole = false;

    /// Adds the addresses first..last (first <= last) of one family.
    void add(ipv6_address first, ipv6_address last)
    {
        ipv6_address size_less_one = last - first;
        add_exact(size_less_one);
        add_exact(1);
    }
    /// Adds another count; the sum must not pass 2^128.
    void add(const address_count& other)
    {
        add_exact(other.low);
        whole = whole || other.whole;
    }
    friend bool operator==(const address_count&, const address_count&) = default;

private:
    void add_exact(ipv6_address value)
    {
        ipv6_address sum = low + value;
        // Counts of disjoint addresses never pass 2^128, so a carry can only reach it.
        if (sum < low) whole = true;
        low = sum;
    }
};

/// The count in decimal ("340282366920938463463374607431768211456" for the whole space).
std::string address_count_text(const address_count& count);
/// The same with "," between groups of three digits ("199,313").
std::string address_count_grouped(const address_count& count);

/// True when a * a_factor < b * b_factor, exactly (factors up to 2^32).
bool address_count_scaled_less(const address_count& a, std::uint32_t a_factor, const address_count& b,
                               std::uint32_t b_factor);

} // namespace blockset
