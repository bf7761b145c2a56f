// A long listing is shared with a second processor slice by slice; the lines of each range
// depend on that range alone, so the whole listing must equal its parts' listings in a row.
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "ranges/listings.h"
#include "ranges/range_list.h"
#include "test_support.h"

namespace blockset {
namespace {

/// Ranges of every width, from single addresses to ranges of many CIDR blocks, and both ends
/// of the space.
testing::ranges spread_ranges(std::size_t count, unsigned seed)
{
    std::mt19937 random(seed);
    testing::ranges items{{0, 5}};
    const std::uint32_t slot = static_cast<std::uint32_t>((std::uint64_t{1} << 32) / (count + 1));
    for (std::size_t i = 1; i + 1 < count; ++i) {
        std::uint32_t first = static_cast<std::uint32_t>(i * slot) + random() % (slot / 4);
        std::uint32_t width = random() % 4 == 0 ? random() % (slot / 2) : random() % 300;
        items.push_back({first, first + width});
    }
    items.push_back({top_address - 3, top_address});
    return items;
}

TEST(shared_listing, long_listings_equal_their_parts_in_a_row)
{
    using writer = void (*)(output_stream&, range_list&);
    const struct {
        const char* name;
        writer write;
    } listings[] = {{"cidr", range_list_write_cidr}, {"range", range_list_write_ranges}};
    const std::size_t part = 1000;
    for (std::size_t count : {std::size_t{40000}, std::size_t{8192 * 7 + 1}, std::size_t{100001}}) {
        testing::ranges items = spread_ranges(count, static_cast<unsigned>(count));
        range_list whole = testing::list_of(items);
        for (const auto& listing : listings) {
            std::string parts;
            for (std::size_t begin = 0; begin < items.size(); begin += part) {
                range_list some = testing::list_of({items.begin() + begin, items.begin() + std::min(items.size(), begin + part)});
                parts += testing::listing_text(listing.write, some);
            }
            for (std::size_t capacity : {std::size_t{1} << 16, std::size_t{4096}}) {
                EXPECT_TRUE(testing::listing_text(listing.write, whole, capacity) == parts)
                    << listing.name << " listing of " << count << " ranges, buffer " << capacity;
            }
        }
    }
}

} // namespace
} // namespace blockset
