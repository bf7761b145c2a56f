#include <new>

#include "cli/command_line.h"
#include "io/process.h"

int main(int argc, char** argv)
{
    try {
        return blockset::run_command_line(argc, argv);
    } catch (const std::bad_alloc&) {
        blockset::end_process_out_of_memory();
    }
}
