#include "cli/command_line.h"

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cli/match_command.h"
#include "cli/options.h"
#include "command_language/compare_statement.h"
#include "cli/which_mode.h"
#include "command_language/script_run.h"
#include "command_language/set_value.h"
#include "input/auto_list.h"
#include "input/p2b_reader.h"
#include "input/text_list.h"
#include "io/diagnostics.h"
#include "io/output_stream.h"
#include "io/process.h"
#include "parallel/shared_listing.h"
#include "ranges/ipv6_list.h"
#include "ranges/ipv6_listings.h"
#include "ranges/range_list.h"

namespace blockset {

namespace {
const char* invocation_name = "blockset";
} // namespace

void print_usage_and_exit()
{
    diagnostic("usage: %s -q type [table]\n", invocation_name);
    diagnostic("       %s -c commands\n", invocation_name);
    diagnostic("       %s -f file\n", invocation_name);
    end_process(1);
}

void run_query(const char* type, const char* table)
{
    range_list list;
    if (std::strcmp(type, "p2b") == 0) {
        if (p2b_read(table, list) == 0) write_cidr_listing(standard_output(), list);
    } else if (std::strcmp(type, "text") == 0) {
        // Whatever was read before a problem is printed.
        text_list_read(table, list);
        write_cidr_listing(standard_output(), list);
    } else if (std::strcmp(type, "auto") == 0) {
        // A partial table is worse than none.
        ipv6_list ipv6;
        if (auto_list_read(table, list, ipv6) == 0) {
            write_cidr_listing(standard_output(), list);
            ipv6_list_write_cidr(standard_output(), ipv6);
        }
    } else {
        print_usage_and_exit();
    }
    range_list_clear(list);
}

void run_list_comparison(const char* type, char** lists, int count)
{
    std::unique_ptr<set_value> (*load)(const char*) = nullptr;
    if (std::strcmp(type, "p2b") == 0) load = set_value_load_p2b;
    if (std::strcmp(type, "text") == 0) load = set_value_load_text;
    if (std::strcmp(type, "auto") == 0) load = set_value_load_auto;
    if (load == nullptr) print_usage_and_exit();
    // As a script would: each list is read in turn, then all are compared.
    std::vector<std::string> names;
    std::vector<expression_value> values;
    for (int i = 0; i < count; ++i) {
        names.emplace_back(lists[i]);
        values.emplace_back(load(lists[i]));
    }
    set_value_compare(nullptr, comparison_format::table, names, std::move(values));
}

int run_command_line(int argc, char** argv)
{
    invocation_name = program_name(argv[0]);
    if (which_mode_requested(argc, argv)) return run_which(argc, argv);
    if (is_match_command(argc, argv)) return run_match_command(argc, argv);
    // Only -s takes more than two operands; any other longer argument list is refused before
    // its options are read.
    bool many_lists = argc > 4 && std::strcmp(argv[1], "-s") == 0;
    if (argc != 3 && argc != 4 && !many_lists) print_usage_and_exit();
    char mode = 0;
    int first_operand = parse_options(argc, argv, [&](char letter) {
        if (letter != 'c' && letter != 'f' && letter != 'q' && letter != 's') {
            diagnostic("%s: illegal option -- %c\n", invocation_name, letter);
            print_usage_and_exit();
        }
        if (mode != 0) print_usage_and_exit();
        mode = letter;
    });
    int operands = argc - first_operand;
    const char* first = operands >= 1 ? argv[first_operand] : nullptr;
    switch (mode) {
    case 's':
        if (operands < 2) print_usage_and_exit();
        run_list_comparison(first, argv + first_operand + 1, operands - 1);
        break;
    case 'q':
        if (operands == 1) run_query(first, nullptr);
        if (operands == 2) run_query(first, argv[first_operand + 1]);
        break;
    case 'f':
    case 'c':
        // "-c --" and "-f --" leave nothing to run.
        if (first == nullptr) print_usage_and_exit();
        if (mode == 'f') {
            run_script_file(first);
        } else {
            run_script_text(first);
        }
        break;
    default:
        break;
    }
    return finish_process();
}

} // namespace blockset
