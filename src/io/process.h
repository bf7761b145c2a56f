#pragma once

namespace blockset {

/// Exit status when output could not be written (EX_IOERR).
constexpr int exit_write_error = 74;

/// Records that an output file could not be written; the process then ends with status 74.
void note_write_error();

/// Exit status when input data could not be read (EX_DATAERR).
constexpr int exit_data_error = 65;

/// Records that an input could not be read completely; the process then ends with status
/// 65, unless a write error makes it 74.
void note_data_error();

/// While one of these lives, data errors are noted here and not for the process: for reading
/// that only asks what a file holds.
class data_errors_apart {
public:
    data_errors_apart();
    ~data_errors_apart();
    data_errors_apart(const data_errors_apart&) = delete;
    data_errors_apart& operator=(const data_errors_apart&) = delete;
    /// True when a data error was noted since this was made.
    bool seen() const;

private:
    bool previous_;
};

/// Standard input can be read once per run: the first caller gets true, every later one false.
bool claim_standard_input();

/// Flushes standard output and returns the exit status for a run that ended normally:
/// 0, 65 after a data error, or 74 after a write error (standard output's is reported here).
int finish_process();

/// Ends the process at once with the given status, after flushing standard output. A save
/// under way leaves no unfinished file behind.
[[noreturn]] void end_process(int status);

/// Ends the process after a fatal error: the message and a newline on standard error, then
/// end_process(status). Allocates nothing.
[[noreturn]] void end_process_fatal(const char* message, int status);

/// Ends the process on exhausted memory: "Allocation error", status 255. Allocates nothing,
/// so it also serves as the handler that operator new calls when memory runs out.
[[noreturn]] void end_process_out_of_memory();

} // namespace blockset
