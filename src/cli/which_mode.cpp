#include "cli/which_mode.h"

#include <cstdint>
#include <cstring>
#include <string_view>

#include "cli/command_line.h"
#include "io/diagnostics.h"
#include "io/output_stream.h"
#include "io/process.h"
#include "triage/list_search.h"

namespace blockset {

namespace {

/// Status of a search that found no entry.
constexpr int exit_nothing_found = 3;

bool is_which_option(const char* argument) { return std::strncmp(argument, "-w", 2) == 0; }

} // namespace

bool which_mode_requested(int argc, char** argv) { return argc > 1 && is_which_option(argv[1]); }

int run_which(int argc, char** argv)
{
    search_items items;
    int next = 1;
    // Each -w takes the item in the same argument ("-w192.0.2.1") or the next one.
    while (next < argc && is_which_option(argv[next])) {
        const char* item = argv[next][2] != '\0' ? argv[next] + 2 : next + 1 < argc ? argv[++next] : nullptr;
        if (item == nullptr) print_usage_and_exit();
        if (!search_items_add(items, item)) {
            diagnostic("-w: '%s' is no address, block or range\n", item);
            print_usage_and_exit();
        }
        ++next;
    }
    if (next < argc && std::strcmp(argv[next], "--") == 0) ++next;
    if (argc - next < 2) print_usage_and_exit();
    std::string_view type = argv[next];
    if (type != "p2b" && type != "text" && type != "auto") print_usage_and_exit();
    std::uint64_t written = 0;
    for (int list = next + 1; list < argc; ++list) written += list_search(items, type, argv[list], standard_output());
    int status = finish_process();
    return status == 0 && written == 0 ? exit_nothing_found : status;
}

} // namespace blockset
