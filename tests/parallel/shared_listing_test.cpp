// A long listing is shared with a second processor in slices: the bytes must be those the
// main thread alone writes, for lists that end on a slice's edge or within one.
#include "parallel/shared_listing.h"

#include <random>

#include <gtest/gtest.h>

#include "platform/helper_thread.h"
#include "ranges/listings.h"
#include "ranges/range_list.h"
#include "test_support.h"

namespace blockset {
namespace {

/// count disjoint ranges of random lengths, some of one address and some spanning many blocks.
range_list random_list(std::mt19937& random, std::size_t count)
{
    range_list list;
    std::uint32_t next = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t first = next + 1 + random() % 1000;
        const std::uint32_t length = random() % 3 == 0 ? 0 : random() % 40000;
        range_list_insert(list, {first, first + length});
        next = first + length + 1;
    }
    return list;
}

TEST(shared_listing, writes_what_the_main_thread_alone_writes)
{
    if (usable_processors() < 2) GTEST_SKIP() << "one usable processor: listings are not shared";
    std::mt19937 random(3);
    struct row {
        void (*shared)(output_stream&, range_list&);
        void (*alone)(output_stream&, range_list&);
    };
    for (const row& format : {row{write_cidr_listing, range_list_write_cidr}, row{write_range_listing, range_list_write_ranges}}) {
        for (std::size_t count : {std::size_t{4} * 8192, std::size_t{5} * 8192 + 77, std::size_t{100000}}) {
            range_list list = random_list(random, count);
            const unsigned before = shared_listing_slices();
            EXPECT_EQ(testing::listing_text(format.shared, list), testing::listing_text(format.alone, list)) << count;
            EXPECT_GE(shared_listing_slices() - before, 2u) << count;
        }
    }
}

} // namespace
} // namespace blockset
