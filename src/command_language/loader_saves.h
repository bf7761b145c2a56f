#pragma once
#include <string_view>

#include "command_language/set_value.h"

namespace blockset {

/// True when text, in the listing place of a save, names a loader listing: its first
/// blank-separated word is "nft", "ipset" or "reduced".
bool loader_listing_named(std::string_view text);
/// True when text describes a loader listing that set_value_write_loader writes.
bool loader_listing_valid(std::string_view text);

/// Writes the value with the loader listing that text describes, to the file at path or on
/// standard output (null path):
///   "nft FAMILY TABLE SET"                       what nft -f applies
///   "ipset SET" or "ipset SET reduced BUDGET..." what ipset restore applies
///   "reduced BUDGET..."                          CIDR blocks in fewer prefix lengths
/// where a BUDGET is "N" entries or "N%" more entries than the plain listing (one or two, the
/// larger wins). A description that does not fit, or a name the loader would refuse, is
/// reported ("Invalid listing '...': ..."), nothing is written, and the process will end with
/// status 65. A first_line given is written before the listing (it must be a comment the
/// loader skips).
void set_value_write_loader(const char* path, expression_value value, std::string_view text,
                            std::string_view first_line = {});

} // namespace blockset
