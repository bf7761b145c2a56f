// Reading and merging a shuffled list of IPv6 entries (addresses and CIDR blocks, one a line)
// beside the same shapes in IPv4 through the IPv4 literal reader. Compare the time per line
// (items_per_second) of the two families, and of each family from 100k to 10M lines.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "input/ipv6_literal.h"
#include "input/literal_patterns.h"
#include "ranges/ipv6_list.h"
#include "ranges/ipv6_listings.h"
#include "ranges/range_list.h"

namespace blockset {
namespace {

/// Half single addresses, half blocks, in random order: the shapes published lists mix.
std::vector<std::string> ipv6_lines(std::size_t count)
{
    std::mt19937_64 random(6);
    std::vector<std::string> lines;
    lines.reserve(count);
    for (std::size_t n = 0; n < count; ++n) {
        // Inside 2000::/3, where the published addresses are.
        ipv6_address address = ipv6_from_halves(0x2000'0000'0000'0000u | (random() >> 3), random());
        char text[max_ipv6_text + 5];
        char* end;
        if (n % 2 == 0) {
            end = format_ipv6_address(text, address);
        } else {
            unsigned prefix = 32 + static_cast<unsigned>(random() % 33);
            end = format_ipv6_address(text, ipv6_block_first(address, prefix));
            end += std::snprintf(end, 5, "/%u", prefix);
        }
        lines.emplace_back(text, end);
    }
    return lines;
}

std::vector<std::string> ipv4_lines(std::size_t count)
{
    std::mt19937 random(4);
    std::vector<std::string> lines;
    lines.reserve(count);
    for (std::size_t n = 0; n < count; ++n) {
        std::uint32_t address = static_cast<std::uint32_t>(random());
        unsigned prefix = n % 2 == 0 ? 32 : 16 + static_cast<unsigned>(random() % 17);
        address &= mask_table[prefix];
        char text[24];
        int length = std::snprintf(text, sizeof text, "%u.%u.%u.%u", address >> 24, address >> 16 & 255,
                                   address >> 8 & 255, address & 255);
        if (prefix != 32) length += std::snprintf(text + length, sizeof text - static_cast<std::size_t>(length), "/%u", prefix);
        lines.emplace_back(text, static_cast<std::size_t>(length));
    }
    return lines;
}

/// The lines joined by line feeds, made once per size.
const std::string& list_text(bool ipv6, std::size_t count)
{
    static std::map<std::pair<bool, std::size_t>, std::string> made;
    std::string& text = made[{ipv6, count}];
    if (text.empty()) {
        for (const std::string& line : ipv6 ? ipv6_lines(count) : ipv4_lines(count)) {
            text += line;
            text += '\n';
        }
    }
    return text;
}

/// Calls read(line) for each line of the text, without its line feed.
template <class reader>
void for_each_line(const std::string& text, reader read)
{
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end) {
        auto* line_end = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
        read(std::string_view(p, static_cast<std::size_t>(line_end - p)));
        p = line_end + 1;
    }
}

void read_and_merge_ipv6(benchmark::State& state)
{
    const std::string& text = list_text(true, static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        ipv6_list list;
        for_each_line(text, [&list](std::string_view line) {
            ipv6_entry entry = read_ipv6_entry(line);
            if (entry.kind == ipv6_entry_kind::ipv6) ipv6_list_insert(list, entry.range);
        });
        benchmark::DoNotOptimize(ipv6_list_view(list).size());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(read_and_merge_ipv6)->Arg(100'000)->Arg(1'000'000)->Arg(10'000'000)->Unit(benchmark::kMillisecond);

void read_and_merge_ipv4(benchmark::State& state)
{
    const std::string& text = list_text(false, static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        range_list list;
        for_each_line(text, [&list](std::string_view line) {
            address_literal literal = read_address_literal(line);
            if (literal.form == literal_form::cidr || literal.form == literal_form::address) {
                range_list_insert(list, literal_range(literal));
            }
        });
        benchmark::DoNotOptimize(range_list_view(list).size());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(read_and_merge_ipv4)->Arg(100'000)->Arg(1'000'000)->Arg(10'000'000)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace blockset
