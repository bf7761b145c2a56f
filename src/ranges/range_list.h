#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

namespace blockset {

class output_stream;

/// A closed range of IPv4 addresses in host byte order, first <= last.
struct ip_range {
    std::uint32_t first;
    std::uint32_t last;
    friend bool operator==(const ip_range&, const ip_range&) = default;
};

constexpr std::uint32_t top_address = 0xFFFFFFFFu;

/// A set of IPv4 addresses as sorted, disjoint, non-adjacent ranges.
/// Additions at or after the last range's start extend or append at the end; others wait
/// in an unsorted tail that the first read sorts and merges in. Readers see only the
/// merged form, through range_list_view().
struct range_list {
    range_list() = default;
    range_list(range_list&& other) noexcept;
    range_list& operator=(range_list&& other) noexcept;
    range_list(const range_list&) = delete;
    range_list& operator=(const range_list&) = delete;
    ~range_list();

    /// data[0, merged) is in invariant form; data[merged, size) are pending additions.
    /// Large storage is mapped in huge pages and grows by moving pages, not their contents.
    mutable ip_range* data = nullptr;
    mutable std::size_t size = 0;
    mutable std::size_t merged = 0;
    std::size_t capacity = 0;
};

/// Makes the list empty (same as range_list_clear).
void range_list_init(range_list& list);
/// Removes every range and releases the storage; the list can be used again at once.
void range_list_clear(range_list& list);
/// Adds the range; afterwards the list holds the union of the old set and the range.
/// A range whose first address lies above its last denotes no addresses and adds nothing.
void range_list_insert(range_list& list, ip_range range);
/// Adds first..last.
void range_list_add_range(range_list& list, std::uint32_t first, std::uint32_t last);
/// Adds address..block_last_address(address, prefix_length); the host bits are kept.
void range_list_add_cidr(range_list& list, std::uint32_t address, unsigned prefix_length);
/// Makes room for count ranges in all, in small pages that become resident only as they
/// fill: for a list whose size is bounded in advance.
void range_list_reserve(range_list& list, std::size_t count);
/// Gives back the memory past the list's last range that its storage holds resident; for
/// a reader that has finished adding. The ranges stay as they are.
void range_list_release_spare(range_list& list);
/// Replaces the target's ranges by the source's; source and target must differ.
range_list& range_list_copy(const range_list& source, range_list& target);
/// The merged ranges, ascending, disjoint and non-adjacent.
std::span<const ip_range> range_list_view(const range_list& list);
/// Number of ranges in the merged form.
std::size_t range_list_size(const range_list& list);
bool range_list_empty(const range_list& list);
/// Writes the list as the fewest aligned CIDR blocks, one "a.b.c.d/n" per line.
void range_list_write_cidr(output_stream& out, const range_list& list);

/// Entry n has the n highest bits set.
extern const std::uint32_t mask_table[33];
/// address OR the host mask of the prefix length.
std::uint32_t block_last_address(std::uint32_t address, unsigned prefix_length);
/// Index of the highest one bit; 0 for the value 0.
unsigned highest_bit_index(std::uint32_t value);
/// Shortest prefix length at which the address starts a block; 0 for 0.0.0.0.
unsigned alignment_prefix(std::uint32_t address);
/// Writes "a.b.c.d/n" without a line end.
void write_cidr_block(output_stream& out, std::uint32_t address, unsigned prefix_length);

} // namespace blockset
