// The text format's scanner and conversions over a list held in memory: the part of a text
// query that does not depend on reading the file.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "input/text_list.h"
#include "input/text_scanner.h"
#include "ranges/cidr.h"
#include "ranges/range_list.h"

namespace blockset {
namespace {

std::string address_text(std::uint32_t value)
{
    return std::to_string(value >> 24) + "." + std::to_string((value >> 16) & 255) + "." +
           std::to_string((value >> 8) & 255) + "." + std::to_string(value & 255);
}

/// Lines in ascending order: a CIDR block, a range and a single address in turn.
std::string ascending_list(std::size_t lines)
{
    std::mt19937 random(1);
    std::uint32_t step = static_cast<std::uint32_t>((std::uint64_t{1} << 32) / lines);
    std::string text;
    for (std::size_t n = 0; n < lines; ++n) {
        std::uint32_t start = static_cast<std::uint32_t>(n) * step + random() % (step / 2);
        switch (n % 3) {
        case 0:
        {
            unsigned prefix = 22 + random() % 11;
            text += address_text(start & mask_table[prefix]) + "/" + std::to_string(prefix) + "\n";
        }
            break;
        case 1:
            text += address_text(start) + "-" + address_text(start + 1 + random() % 600) + "\n";
            break;
        default:
            text += address_text(start) + "\n";
            break;
        }
    }
    return text;
}

void text_tokens_and_conversions(benchmark::State& state)
{
    const std::string text = ascending_list(static_cast<std::size_t>(state.range(0)));
    scanner in(text_scan_rules);
    for (auto _ : state) {
        range_list list;
        in.restart(text);
        token_value value;
        for (int token; (token = text_scanner_next_token(in, value)) != TEXT_END;) {
            if (token == LINE_END || token == HOST) continue;
            text_entry_add(list, token, value);
        }
        benchmark::DoNotOptimize(range_list_view(list).size());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(text_tokens_and_conversions)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace blockset
