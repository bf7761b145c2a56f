#include "io/process.h"

#include <cstdlib>
#include <new>
#include <unistd.h>

#include "io/diagnostics.h"
#include "io/output_stream.h"

namespace blockset {

namespace {
bool write_error_seen = false;
bool standard_input_taken = false;
bool data_error_seen = false;
} // namespace

void note_write_error() { write_error_seen = true; }

void note_data_error() { data_error_seen = true; }

bool claim_standard_input()
{
    if (standard_input_taken) return false;
    standard_input_taken = true;
    return true;
}

int finish_process()
{
    if (!standard_output().flush()) {
        diagnostic("Error writing standard output.\n");
        write_error_seen = true;
    }
    if (write_error_seen) return exit_write_error;
    return data_error_seen ? exit_data_error : 0;
}

void end_process(int status)
{
    int final_status = finish_process();
    std::_Exit(status != 0 ? status : final_status);
}

void end_process_out_of_memory()
{
    static const char message[] = "Allocation error\n";
    ssize_t ignored = ::write(STDERR_FILENO, message, sizeof message - 1);
    (void)ignored;
    // Standard output may not exist yet, and making it needs memory that may not be there.
    try {
        standard_output().flush();
    } catch (const std::bad_alloc&) {
    }
    std::_Exit(255);
}

} // namespace blockset
