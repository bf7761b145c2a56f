// Random insertions and set operations on four range lists, each mirrored by a bitmap over
// a small universe that holds both ends of the address space: the 128 lowest addresses,
// the 128 highest, and everything between them as one element (no operation here can
// split it, since every range starts and ends in one of the two ends).
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "fuzz_support.h"
#include "ranges/cidr.h"
#include "ranges/range_list.h"
#include "ranges/set_algebra.h"

using namespace blockset;

namespace {

constexpr std::size_t universe = 257;
constexpr std::size_t middle = 128;
using model = std::bitset<universe>;

std::uint32_t address_of(std::uint8_t byte)
{
    return byte < 128 ? byte : top_address - (255u - byte);
}

std::size_t element_of(std::uint32_t address)
{
    if (address < 128) return address;
    if (address > top_address - 128) return universe - 1 - (top_address - address);
    return middle;
}

void model_add(model& set, std::uint32_t first, std::uint32_t last)
{
    if (first > last) return;
    for (std::size_t e = element_of(first); e <= element_of(last); ++e) set.set(e);
}

void check(range_list& list, const model& expected)
{
    fuzzing::check_invariant(list);
    model seen;
    for (const ip_range& range : range_list_view(list)) {
        // A range may only start or end in the middle by covering all of it.
        if (element_of(range.first) == middle && range.first != 128) std::abort();
        if (element_of(range.last) == middle && range.last != top_address - 128) std::abort();
        model_add(seen, range.first, range.last);
    }
    if (seen != expected) std::abort();
}

class byte_source {
public:
    byte_source(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return size_ == 0; }
    std::uint8_t next()
    {
        if (size_ == 0) return 0;
        --size_;
        return *data_++;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    range_list lists[4];
    model models[4];
    byte_source in(data, size);
    while (!in.empty()) {
        std::uint8_t op = in.next();
        std::size_t target = op >> 4 & 3;
        std::size_t a = op >> 6;
        std::size_t b = (op >> 4 ^ op >> 2) & 3;
        switch (op & 15) {
        case 0:
        case 1:
        case 2: {
            std::uint32_t first = address_of(in.next());
            std::uint32_t last = address_of(in.next());
            range_list_insert(lists[target], {first, last});
            model_add(models[target], first, last);
            break;
        }
        case 3: {
            std::uint32_t address = address_of(in.next());
            // Blocks that end in one of the two ends: /0, or /25 to /32 (any at the top).
            unsigned prefix = in.next() % 10;
            prefix = prefix == 9 ? 0 : prefix + 24;
            if (prefix == 24) prefix = address >= 128 ? 24 : 32;
            std::uint32_t host_mask = prefix == 0 ? top_address : (1u << (32 - prefix)) - 1;
            range_list_insert(lists[target], ip_range{address, block_last_address(address, prefix)});
            model_add(models[target], address, address | host_mask);
            break;
        }
        case 4:
            if (a == target) break;
            range_list_copy(lists[a], lists[target]);
            models[target] = models[a];
            break;
        case 5:
        case 6:
        case 7: {
            if (a == target || b == target) break;
            model result;
            if ((op & 15) == 5) {
                range_list_union(lists[a], lists[b], lists[target]);
                result = models[a] | models[b];
            } else if ((op & 15) == 6) {
                range_list_intersection(lists[a], lists[b], lists[target]);
                result = models[a] & models[b];
            } else {
                range_list_difference(lists[a], lists[b], lists[target]);
                result = models[a] & ~models[b];
            }
            models[target] = result;
            break;
        }
        case 8:
            if (a == target) break;
            range_list_complement(lists[a], lists[target]);
            models[target] = ~models[a];
            break;
        case 9:
            range_list_clear(lists[target]);
            models[target].reset();
            break;
        case 10:
            check(lists[target], models[target]);
            break;
        case 11:
            if (a == target) break;
            lists[target] = std::move(lists[a]);
            models[target] = models[a];
            range_list_clear(lists[a]);
            models[a].reset();
            break;
        default:
            break;
        }
    }
    for (std::size_t i = 0; i < 4; ++i) check(lists[i], models[i]);
    return 0;
}
