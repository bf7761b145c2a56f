#include "cli/match_command.h"

#include <cstring>
#include <fcntl.h>
#include <span>
#include <unistd.h>

#include "cli/options.h"
#include "input/auto_list.h"
#include "input/p2b_reader.h"
#include "input/text_list.h"
#include "io/diagnostics.h"
#include "io/file_opener.h"
#include "io/process.h"
#include "match/log_match.h"
#include "ranges/ipv6_list.h"
#include "ranges/range_list.h"

namespace blockset {

namespace {

/// Status when no line was kept, as grep's 1 (0 and 1 already mean success and usage here).
constexpr int exit_nothing_kept = 3;

[[noreturn]] void print_match_usage_and_exit(const char* name)
{
    diagnostic("usage: %s -m [-v] [-c] type list [file ...]\n", name);
    end_process(1);
}

/// Whether a text list can be opened: its reader reports a failure but tells nobody.
bool text_list_opens(const char* path)
{
    int fd = open_path(path, O_RDONLY);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

/// Reads the list into the set's two parts; false when it could not be read completely (the
/// reader has said why).
bool read_match_list(const char* type, const char* path, range_list& ipv4, ipv6_list& ipv6)
{
    if (std::strcmp(type, "p2b") == 0) return p2b_read(path, ipv4) == 0;
    if (std::strcmp(type, "auto") == 0) return auto_list_read(path, ipv4, ipv6) == 0;
    bool opens = text_list_opens(path);
    text_list_read(path, ipv4);
    return opens;
}

bool is_list_type(const char* type)
{
    return std::strcmp(type, "p2b") == 0 || std::strcmp(type, "text") == 0 || std::strcmp(type, "auto") == 0;
}

} // namespace

bool is_match_command(int argc, char** argv)
{
    bool match = false;
    parse_options(argc, argv, [&](char letter) { match = match || letter == 'm'; });
    return match;
}

int run_match_command(int argc, char** argv)
{
    const char* name = program_name(argv[0]);
    match_options options;
    bool seen_m = false;
    int first_operand = parse_options(argc, argv, [&](char letter) {
        bool* flag = letter == 'm' ? &seen_m : letter == 'v' ? &options.invert : letter == 'c' ? &options.count : nullptr;
        if (flag == nullptr) {
            diagnostic("%s: illegal option -- %c\n", name, letter);
            print_match_usage_and_exit(name);
        }
        if (*flag) print_match_usage_and_exit(name);
        *flag = true;
    });
    if (argc - first_operand < 2 || !is_list_type(argv[first_operand])) print_match_usage_and_exit(name);

    range_list ipv4;
    ipv6_list ipv6;
    if (!read_match_list(argv[first_operand], argv[first_operand + 1], ipv4, ipv6)) {
        // A set read in part would keep the wrong lines: no file is read.
        note_data_error();
        return finish_process();
    }
    match_set set{range_index_build(range_list_view(ipv4)), ipv6_list_view(ipv6)};
    std::span<const char* const> files{argv + first_operand + 2, static_cast<std::size_t>(argc - first_operand - 2)};
    std::uint64_t kept = log_match_files(set, options, files);
    int status = finish_process();
    return status == 0 && kept == 0 ? exit_nothing_kept : status;
}

} // namespace blockset
