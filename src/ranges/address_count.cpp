#include "ranges/address_count.h"

#include <array>
#include <cstdint>
#include <string>

namespace blockset {

namespace {

/// The count times factor, in three 64-bit limbs, the lowest first.
std::array<std::uint64_t, 3> scaled(const address_count& count, std::uint32_t factor)
{
    std::array<std::uint64_t, 3> limbs{static_cast<std::uint64_t>(count.low),
                                       static_cast<std::uint64_t>(count.low >> 64), count.whole ? 1u : 0u};
    ipv6_address carry = 0;
    for (std::uint64_t& limb : limbs) {
        ipv6_address product = ipv6_address{limb} * factor + carry;
        limb = static_cast<std::uint64_t>(product);
        carry = product >> 64;
    }
    return limbs;
}

} // namespace

std::string address_count_text(const address_count& count)
{
    if (count.whole) return "340282366920938463463374607431768211456";
    std::string digits;
    ipv6_address rest = count.low;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + static_cast<unsigned>(rest % 10)));
        rest /= 10;
    } while (rest != 0);
    return digits;
}

std::string address_count_grouped(const address_count& count)
{
    std::string digits = address_count_text(count);
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
        grouped += digits[i];
    }
    return grouped;
}

bool address_count_scaled_less(const address_count& a, std::uint32_t a_factor, const address_count& b,
                               std::uint32_t b_factor)
{
    std::array<std::uint64_t, 3> left = scaled(a, a_factor);
    std::array<std::uint64_t, 3> right = scaled(b, b_factor);
    for (int i = 2; i >= 0; --i)
        if (left[static_cast<std::size_t>(i)] != right[static_cast<std::size_t>(i)])
            return left[static_cast<std::size_t>(i)] < right[static_cast<std::size_t>(i)];
    return false;
}

} // namespace blockset
