#include "command_language/script_run.h"

#include <fcntl.h>
#include <unistd.h>

#include "command_language/command_parser.h"
#include "command_language/command_scanner.h"
#include "command_language/set_value.h"
#include "io/diagnostics.h"
#include "io/file_opener.h"
#include "parsing/scanner.h"

namespace blockset {

namespace {

void run_bound_script()
{
    variable_table table;
    command_parser_run(command_scanner(), table);
    variable_table_clear(table);
}

} // namespace

void run_script_file(const char* path)
{
    int fd = open_path(path, O_RDONLY);
    if (fd < 0) {
        diagnostic("Error opening file %s.\n", path);
        return;
    }
    command_scanner().restart(fd);
    run_bound_script();
    ::close(fd);
}

void run_script_text(std::string_view text)
{
    command_scanner().restart(text);
    run_bound_script();
}

} // namespace blockset
