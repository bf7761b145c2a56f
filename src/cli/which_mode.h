#pragma once

namespace blockset {

/// True when the arguments ask which entries of lists hold an address: the first one is a
/// "-w" option.
bool which_mode_requested(int argc, char** argv);

/// blockset -w ITEM [-w ITEM]... type LIST...: writes PATH:LINE:ENTRY for every entry of the
/// lists that holds an address of an item. Returns the exit status: 0 when it wrote a line, 3
/// when it wrote none, 65 when a list could not be read completely. A missing or unreadable
/// item, a missing list or an unknown type gives the usage text (status 1).
int run_which(int argc, char** argv);

} // namespace blockset
