#include "ranges/prefix_reduction.h"

#include <limits>

#include "io/output_stream.h"
#include "ranges/address_format.h"
#include "ranges/range_list.h"

namespace blockset {

namespace {

constexpr std::uint64_t most_budget_number = std::uint64_t{1} << 32;
constexpr std::uint64_t saturated = std::numeric_limits<std::uint64_t>::max();

std::uint64_t add_saturating(std::uint64_t a, std::uint64_t b) { return a > saturated - b ? saturated : a + b; }

/// count blocks each split into 2^shift blocks.
std::uint64_t split_count(std::uint64_t count, unsigned shift)
{
    return count > (saturated >> shift) ? saturated : count << shift;
}

/// Entries that the blocks of lengths above shorter, up to and including longer, take when
/// all are written at the length longer.
std::uint64_t written_at(const prefix_counts& counts, int shorter, unsigned longer)
{
    std::uint64_t entries = 0;
    for (unsigned length = static_cast<unsigned>(shorter + 1); length <= longer; ++length)
        entries = add_saturating(entries, split_count(counts[length], longer - length));
    return entries;
}

} // namespace

bool entry_budget_read(std::string_view word, entry_budget& budget)
{
    bool percent = !word.empty() && word.back() == '%';
    if (percent) word.remove_suffix(1);
    if (word.empty() || word.size() > 10) return false;
    std::uint64_t number = 0;
    for (char c : word) {
        if (c < '0' || c > '9') return false;
        number = number * 10 + static_cast<unsigned>(c - '0');
    }
    if (number > most_budget_number) return false;
    std::uint64_t& slot = percent ? budget.percent : budget.entries;
    if (number > slot) slot = number;
    return true;
}

std::uint64_t entry_budget_limit(const entry_budget& budget, std::uint64_t plain_entries)
{
    // Both factors stay below 2^33, so the product fits.
    std::uint64_t raised = add_saturating(plain_entries, plain_entries / 100 * budget.percent +
                                                             plain_entries % 100 * budget.percent / 100);
    return std::max(raised, budget.entries);
}

prefix_counts prefix_counts_of(std::span<const ip_range> ranges, unsigned shortest_length)
{
    prefix_counts counts{};
    for_each_cidr_block(ranges, [&](std::uint32_t, unsigned length) {
        if (length < shortest_length) {
            counts[shortest_length] += std::uint64_t{1} << (shortest_length - length);
        } else {
            ++counts[length];
        }
    });
    return counts;
}

prefix_plan prefix_plan_plain()
{
    prefix_plan plan{};
    for (unsigned length = 0; length <= 32; ++length) plan[length] = static_cast<unsigned char>(length);
    return plan;
}

std::uint64_t prefix_plan_entries(const prefix_counts& counts, const prefix_plan& plan)
{
    std::uint64_t entries = 0;
    for (unsigned length = 0; length <= 32; ++length)
        entries = add_saturating(entries, split_count(counts[length], plan[length] - length));
    return entries;
}

namespace {

/// The lengths that occur, and for each number of lengths written the best choice of them.
/// best[k][j]: the fewest entries for the blocks up to present[j] when k + 1 lengths are
/// written, the longest of them present[j]; from[k][j] the index of the next shorter one.
struct length_choices {
    unsigned present[33];
    unsigned kinds = 0;
    std::uint64_t best[33][33];
    int from[33][33];
};

/// Fills level k (k + 1 lengths written) from level k - 1.
void choose_level(length_choices& c, const prefix_counts& counts, unsigned k)
{
    for (unsigned j = 0; j < c.kinds; ++j) {
        c.best[k][j] = saturated;
        c.from[k][j] = -1;
        for (unsigned i = k - 1; i < j; ++i) {
            if (c.best[k - 1][i] == saturated) continue;
            std::uint64_t entries = add_saturating(c.best[k - 1][i], written_at(counts, static_cast<int>(c.present[i]), c.present[j]));
            if (entries < c.best[k][j]) {
                c.best[k][j] = entries;
                c.from[k][j] = static_cast<int>(i);
            }
        }
    }
}

/// The plan of level k's best choice: each length up to a written one is written at that one.
prefix_plan plan_of_level(const length_choices& c, unsigned k)
{
    prefix_plan plan = prefix_plan_plain();
    int j = static_cast<int>(c.kinds - 1);
    for (int level = static_cast<int>(k); j >= 0; --level) {
        int shorter = c.from[level][j];
        for (int length = shorter < 0 ? 0 : static_cast<int>(c.present[shorter]) + 1; length <= static_cast<int>(c.present[j]);
             ++length)
            plan[static_cast<unsigned>(length)] = static_cast<unsigned char>(c.present[j]);
        j = shorter;
    }
    return plan;
}

} // namespace

prefix_plan prefix_plan_reduced(const prefix_counts& counts, std::uint64_t most_entries)
{
    // Only lengths that occur are worth writing at: a length between two that occur only
    // makes the blocks below it larger in number than the next occurring length would.
    length_choices c;
    for (unsigned length = 0; length <= 32; ++length)
        if (counts[length] != 0) c.present[c.kinds++] = length;
    if (c.kinds < 2) return prefix_plan_plain();
    for (unsigned j = 0; j < c.kinds; ++j) {
        c.best[0][j] = written_at(counts, -1, c.present[j]);
        c.from[0][j] = -1;
    }
    for (unsigned k = 0; k < c.kinds; ++k) {
        if (k > 0) choose_level(c, counts, k);
        if (c.best[k][c.kinds - 1] <= most_entries) return plan_of_level(c, k);
    }
    return prefix_plan_plain();
}

void range_list_write_reduced(output_stream& out, range_list& list, const entry_budget& budget)
{
    auto ranges = range_list_view(list);
    prefix_counts counts = prefix_counts_of(ranges, 0);
    prefix_plan plan = prefix_plan_reduced(counts, entry_budget_limit(budget, prefix_plan_entries(counts, prefix_plan_plain())));
    for_each_planned_block(ranges, plan, 0, [&out](std::uint32_t address, unsigned length) {
        char* p = out.reserve(address_text_room + 4);
        p = format_address(p, address);
        *p++ = '/';
        p = format_small_number(p, length);
        *p++ = '\n';
        out.commit(p);
    });
}

} // namespace blockset
