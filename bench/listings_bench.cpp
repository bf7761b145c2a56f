// The range and single-address listings written to /dev/null, so the figure is the
// formatting alone: output bytes per second.

#include <cstdint>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "io/output_stream.h"
#include "ranges/listings.h"
#include "ranges/range_list.h"

namespace blockset {
namespace {

unsigned digits(unsigned octet) { return octet >= 100 ? 3 : octet >= 10 ? 2 : 1; }

/// Bytes of the address listing of 10.0.0.0/8: "10." then three octets, two dots and "\n".
std::int64_t slash_eight_listing_bytes()
{
    std::int64_t octet_digits = 0;
    for (unsigned octet = 0; octet < 256; ++octet) octet_digits += digits(octet);
    const std::int64_t lines = std::int64_t{1} << 24;
    return lines * (3 + 2 + 1) + 3 * octet_digits * (lines / 256);
}

int open_null()
{
    int fd = ::open("/dev/null", O_WRONLY);
    if (fd < 0) std::abort();
    return fd;
}

void BM_address_listing_slash_eight(benchmark::State& state)
{
    range_list list;
    range_list_insert(list, ip_range{10u << 24, (10u << 24) | 0x00FFFFFFu});
    int fd = open_null();
    output_stream out(fd);
    for (auto _ : state) {
        range_list_write_addresses(out, list);
        out.flush();
    }
    ::close(fd);
    state.SetBytesProcessed(state.iterations() * slash_eight_listing_bytes());
    state.counters["lines_per_second"] =
        benchmark::Counter(static_cast<double>(std::int64_t{1} << 24), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_range_listing(benchmark::State& state)
{
    const auto count = static_cast<std::size_t>(state.range(0));
    range_list list;
    const std::uint32_t slot = static_cast<std::uint32_t>((std::uint64_t{1} << 32) / count);
    for (std::size_t i = 0; i < count; ++i) {
        auto first = static_cast<std::uint32_t>(i * slot);
        range_list_insert(list, ip_range{first + 7, first + slot / 2});
    }
    int fd = open_null();
    output_stream out(fd);
    for (auto _ : state) {
        range_list_write_ranges(out, list);
        out.flush();
    }
    ::close(fd);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * count));
}

BENCHMARK(BM_address_listing_slash_eight)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_range_listing)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace blockset
