#include "ranges/ipv6_sort.h"

#include <algorithm>
#include <functional>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace blockset {
namespace {

using ranges = std::vector<ipv6_range>;

/// The ranges in order of first address, then last address.
ranges in_full_order(ranges items)
{
    std::sort(items.begin(), items.end(),
              [](const ipv6_range& a, const ipv6_range& b) { return a.first < b.first || (a.first == b.first && a.last < b.last); });
    return items;
}

std::vector<ipv6_address> firsts(const ranges& items)
{
    std::vector<ipv6_address> result;
    for (const ipv6_range& range : items) result.push_back(range.first);
    return result;
}

// The radix sort, which large spans take, gives the order of the plain comparison sort for
// addresses that differ anywhere: in the high bits, only in the lowest byte, or in a few
// clusters far apart, with many equal ones and both ends of the space among them.
TEST(ipv6_sort, radix_sort_orders_as_the_plain_sort)
{
    std::mt19937_64 random(128);
    const ipv6_address top = ipv6_top_address;
    const struct {
        const char* name;
        std::function<ipv6_address(std::size_t)> address;
    } cases[] = {
        {"anywhere", [&](std::size_t) { return ipv6_from_halves(random(), random()); }},
        {"published clusters", [&](std::size_t) { return ipv6_from_halves(0x20010DB800000000u | (random() >> 32), 0); }},
        {"lowest byte only", [&](std::size_t) { return ipv6_address{0x20010DB8} << 96 | (random() & 0xFF); }},
        {"far clusters, low bits",
         [&](std::size_t n) { return (n % 3 == 0 ? top - 0xFFFF : ipv6_address{n % 3} << 100) + (random() & 0xFFFF); }},
        {"ends and repeats", [&](std::size_t n) { return n % 4 == 0 ? 0 : n % 4 == 1 ? top : ipv6_address{random() % 5}; }},
    };
    for (const auto& row : cases) {
        ranges items;
        for (std::size_t n = 0; n < 20000; ++n) {
            const ipv6_address first = row.address(n);
            items.push_back({first, first + (first == top ? 0 : random() % 2)});
        }
        ranges plain = items, radix = items;
        ipv6_ranges_sort_plain(plain);
        const unsigned radix_before = ipv6_radix_sort_count();
        ipv6_ranges_sort(radix);
        EXPECT_EQ(ipv6_radix_sort_count(), radix_before + 1) << row.name;
        // Ranges with the same first address may come in any order.
        EXPECT_TRUE(firsts(radix) == firsts(plain)) << row.name;
        EXPECT_TRUE(in_full_order(radix) == in_full_order(items)) << row.name;
    }
}

} // namespace
} // namespace blockset
