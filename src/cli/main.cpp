#include <new>

#include "cli/command_line.h"
#include "io/process.h"

int main(int argc, char** argv)
{
    // Failing memory ends the run at once: throwing needs memory too, which a tiny
    // address-space limit may not leave.
    std::set_new_handler(&blockset::end_process_out_of_memory);
    try {
        return blockset::run_command_line(argc, argv);
    } catch (const std::bad_alloc&) {
        blockset::end_process_out_of_memory();
    }
}
