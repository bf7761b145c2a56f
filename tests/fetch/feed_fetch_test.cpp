#include "fetch/feed_fetch.h"

#include <cstdint>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace blockset {
namespace {

struct bound_case {
    std::string_view word;
    std::string_view text;
    bool readable;
    std::uint64_t value; ///< bytes or milliseconds, when readable
};

constexpr std::uint64_t default_bytes = std::uint64_t{256} << 20;

/// The bound a word sets, in bytes or milliseconds.
std::uint64_t bound_of(const fetch_request& request, std::string_view word)
{
    if (word == "max-size") return request.max_bytes;
    return static_cast<std::uint64_t>(word == "timeout" ? request.transfer_ms : request.connect_ms);
}

TEST(feed_fetch, bounds_read_number_and_unit)
{
    const bound_case cases[] = {
        {"max-size", "1", true, 1},
        {"max-size", "1 B", true, 1},
        {"max-size", "64KiB", true, 64 << 10},
        {"max-size", "16 MiB", true, 16 << 20},
        {"max-size", "2\tGiB", true, std::uint64_t{2} << 30},
        {"max-size", "1024 GiB", true, std::uint64_t{1} << 40},
        {"max-size", "1025 GiB", false, 0},  // above the largest bound
        {"max-size", "99999999999999999999999", false, 0},  // past 64 bits
        {"max-size", "0", false, 0},
        {"max-size", "16 MB", false, 0},
        {"max-size", "16 mib", false, 0},
        {"max-size", " 16", false, 0},
        {"max-size", "16 MiB ", false, 0},
        {"max-size", "", false, 0},
        {"timeout", "5", true, 5000},
        {"timeout", "5 s", true, 5000},
        {"timeout", "250ms", true, 250},
        {"timeout", "2 min", true, 120'000},
        {"timeout", "1440 min", true, 86'400'000},
        {"timeout", "1441 min", false, 0},
        {"timeout", "1.5 s", false, 0},
        {"connect-timeout", "10 s", true, 10'000},
        {"connect-timeout", "-1", false, 0},
    };
    for (const bound_case& c : cases) {
        SCOPED_TRACE(std::string(c.word) + " '" + std::string(c.text) + "'");
        fetch_request request;
        auto bound = fetch_bound_named(c.word);
        ASSERT_TRUE(bound.has_value());
        EXPECT_EQ(fetch_request_set(request, *bound, c.text), c.readable);
        EXPECT_EQ(bound_of(request, c.word), c.readable ? c.value : bound_of(fetch_request{}, c.word));
    }
    EXPECT_EQ(fetch_request{}.max_bytes, default_bytes);
}

TEST(feed_fetch, bound_words)
{
    EXPECT_EQ(fetch_bound_named("ca-file"), fetch_bound::ca_file);
    for (std::string_view word : {"max_size", "size", "Timeout", "cafile", ""}) {
        EXPECT_FALSE(fetch_bound_named(word).has_value()) << word;
    }
    fetch_request request;
    EXPECT_FALSE(fetch_request_set(request, fetch_bound::ca_file, ""));
    EXPECT_TRUE(fetch_request_set(request, fetch_bound::ca_file, "ca.pem"));
    EXPECT_EQ(request.ca_file, "ca.pem");
}

} // namespace
} // namespace blockset
