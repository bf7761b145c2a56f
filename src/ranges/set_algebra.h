#pragma once

namespace blockset {

struct range_list;

// Each operation empties the result first (even when it held ranges), then fills it in one
// ascending sweep. Operands are only read and may be the same list; the result must be
// distinct from every operand. Each returns the result list.

/// result = a ∪ b
range_list& range_list_union(const range_list& a, const range_list& b, range_list& result);
/// result = a ∩ b
range_list& range_list_intersection(const range_list& a, const range_list& b, range_list& result);
/// result = a minus b
range_list& range_list_difference(const range_list& a, const range_list& b, range_list& result);
/// result = every address not in a
range_list& range_list_complement(const range_list& a, range_list& result);

} // namespace blockset
