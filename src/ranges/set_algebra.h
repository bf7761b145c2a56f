#pragma once

namespace blockset {

struct range_list;

// Each operation empties the result first (even when it held ranges), then fills it in one
// ascending sweep. Operands are read through range_list_view (which merges their pending
// additions; their sets do not change) and may be the same list; the result must be distinct
// from every operand. Each returns the result list.

/// result = a ∪ b
range_list& range_list_union(range_list& a, range_list& b, range_list& result);
/// result = a ∩ b
range_list& range_list_intersection(range_list& a, range_list& b, range_list& result);
/// result = a minus b
range_list& range_list_difference(range_list& a, range_list& b, range_list& result);
/// result = every address not in a
range_list& range_list_complement(range_list& a, range_list& result);

} // namespace blockset
