#pragma once
#include <string_view>

#include "command_language/set_value.h"

namespace blockset {

/// True when text, in the listing place of a save, is a listing with a shrink guard:
/// "LISTING guard LIMIT [LIMIT]" where LISTING is cidr, range, single or count, and the text
/// is no loader listing as it stands.
bool guarded_listing_named(std::string_view text);

/// Saves the value as text describes: a loader listing (see set_value_write_loader), or any
/// listing followed by "guard" and one or two limits, "N%" of the addresses the file holds now
/// in either family and "N" blocks. A guarded save to a file that exists writes nothing when
/// the new set holds fewer addresses than the share of what the file holds (read back from a
/// cidr, range or single file, from the numbers of a count file, from the counts line that a
/// guarded nft or ipset save writes first), or fewer blocks than the count: it says why, and
/// the process will end with status 65. A file that does not exist yet, or whose content
/// tells no counts, is written.
void set_value_write_described(const char* path, expression_value value, std::string_view text);

} // namespace blockset
