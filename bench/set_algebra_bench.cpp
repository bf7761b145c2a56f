// The four set operations on generated lists. Figures are operand ranges per second; the
// 1 M and 4 M sizes show whether the sweeps stay linear.

#include <cstdint>
#include <random>

#include <benchmark/benchmark.h>

#include "ranges/range_list.h"
#include "ranges/set_algebra.h"

namespace blockset {
namespace {

/// count ranges spread evenly over the address space, each in its own slot of the space
/// with a random start and length, so that two lists made with different seeds overlap
/// partly, touch now and then and leave gaps.
range_list spread_list(std::size_t count, std::uint32_t seed)
{
    std::mt19937 random(seed);
    const std::uint64_t slot = (std::uint64_t{1} << 32) / count;
    range_list list;
    for (std::size_t i = 0; i < count; ++i) {
        std::uint64_t first = i * slot + random() % (slot / 2);
        std::uint64_t last = first + random() % (slot / 2);
        range_list_insert(list, ip_range{static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(last)});
    }
    return list;
}

using binary_operation = range_list& (*)(range_list&, range_list&, range_list&);

void run_binary(benchmark::State& state, binary_operation operation)
{
    const auto count = static_cast<std::size_t>(state.range(0));
    range_list a = spread_list(count, 1);
    range_list b = spread_list(count, 2);
    range_list result;
    for (auto _ : state) {
        operation(a, b, result);
        benchmark::DoNotOptimize(range_list_view(result).data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * 2 * count));
    state.counters["result_ranges"] = static_cast<double>(range_list_view(result).size());
}

void BM_union(benchmark::State& state) { run_binary(state, range_list_union); }
void BM_intersection(benchmark::State& state) { run_binary(state, range_list_intersection); }
void BM_difference(benchmark::State& state) { run_binary(state, range_list_difference); }

void BM_complement(benchmark::State& state)
{
    const auto count = static_cast<std::size_t>(state.range(0));
    range_list a = spread_list(count, 1);
    range_list result;
    for (auto _ : state) {
        range_list_complement(a, result);
        benchmark::DoNotOptimize(range_list_view(result).data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * count));
}

BENCHMARK(BM_union)->Arg(1 << 20)->Arg(1 << 22)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_intersection)->Arg(1 << 20)->Arg(1 << 22)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_difference)->Arg(1 << 20)->Arg(1 << 22)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_complement)->Arg(1 << 20)->Arg(1 << 22)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace blockset
