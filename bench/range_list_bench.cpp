// Kernel benchmarks of the range list: merging insertion in file order and in random order,
// shuffled halves sorted together, and the CIDR listing.
#include <algorithm>
#include <cstdio>
#include <random>
#include <span>
#include <vector>

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "io/output_stream.h"
#include "ranges/listings.h"
#include "ranges/range_list.h"

namespace blockset {
namespace {

constexpr std::size_t insertion_count = 10'000'000;

/// Non-adjacent two-address ranges spacing * i .. spacing * i + 1, so that none of them merge:
/// 4 apart, 10M of them crowd 610 groups of 2^16 addresses, dense enough for bitmaps; 409 apart
/// they spread over the whole address space.
std::vector<ip_range> spaced_ranges(std::size_t count, std::uint32_t spacing = 4)
{
    std::vector<ip_range> ranges(count);
    for (std::size_t i = 0; i < count; ++i) {
        auto first = static_cast<std::uint32_t>(spacing * i);
        ranges[i] = {first, first + 1};
    }
    return ranges;
}

void insert_all(benchmark::State& state, const std::vector<ip_range>& ranges)
{
    for (auto _ : state) {
        range_list list;
        for (const ip_range& range : ranges) range_list_insert(list, range);
        benchmark::DoNotOptimize(range_list_view(list).size());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * ranges.size()));
}

void range_list_insert_ascending(benchmark::State& state)
{
    static const std::vector<ip_range> ranges = spaced_ranges(insertion_count);
    insert_all(state, ranges);
}
BENCHMARK(range_list_insert_ascending)->Unit(benchmark::kMillisecond)->Iterations(3);

void range_list_insert_shuffled(benchmark::State& state)
{
    static const std::vector<ip_range> ranges = [] {
        std::vector<ip_range> shuffled = spaced_ranges(insertion_count);
        std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937_64(42));
        return shuffled;
    }();
    insert_all(state, ranges);
}
BENCHMARK(range_list_insert_shuffled)->Unit(benchmark::kMillisecond)->Iterations(3);

/// A million ranges of random lengths at random gaps: a mix of single blocks and long runs.
range_list& listing_input()
{
    static range_list list = [] {
        range_list made;
        std::mt19937 random(7);
        std::uint32_t address = 0;
        for (int i = 0; i < 1'000'000; ++i) {
            address += 2 + random() % 3000;
            std::uint32_t length = random() % 4 == 0 ? random() % 5000 : random() % 64;
            range_list_insert(made, ip_range{address, address + length});
            address += length;
        }
        return made;
    }();
    return list;
}

std::size_t listing_size(range_list& list)
{
    std::FILE* file = std::tmpfile();
    {
        output_stream out(fileno(file));
        range_list_write_cidr(out, list);
        out.flush();
    }
    struct stat info {};
    fstat(fileno(file), &info);
    std::fclose(file);
    return static_cast<std::size_t>(info.st_size);
}

void range_list_write_cidr_to_null(benchmark::State& state)
{
    range_list& list = listing_input();
    std::size_t bytes = listing_size(list);
    int fd = open("/dev/null", O_WRONLY);
    output_stream out(fd, 1 << 17);
    for (auto _ : state) {
        range_list_write_cidr(out, list);
        out.flush();
    }
    close(fd);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(range_list_write_cidr_to_null)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace blockset
