#include "io/process.h"

#include <cstdlib>

#include "io/diagnostics.h"
#include "io/output_file.h"
#include "io/output_stream.h"

namespace blockset {

namespace {
bool write_error_seen = false;
bool standard_input_taken = false;
bool data_error_seen = false;
} // namespace

void note_write_error() { write_error_seen = true; }

void note_data_error() { data_error_seen = true; }

data_errors_apart::data_errors_apart() : previous_(data_error_seen) { data_error_seen = false; }

data_errors_apart::~data_errors_apart() { data_error_seen = previous_; }

bool data_errors_apart::seen() const { return data_error_seen; }

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
    remove_unfinished_output();
    int final_status = finish_process();
    std::_Exit(status != 0 ? status : final_status);
}

void end_process_fatal(const char* message, int status)
{
    remove_unfinished_output();
    diagnostic_line(message);
    end_process(status);
}

void end_process_out_of_memory()
{
    remove_unfinished_output();
    diagnostic_line("Allocation error");
    standard_output().flush();
    std::_Exit(255);
}

} // namespace blockset
