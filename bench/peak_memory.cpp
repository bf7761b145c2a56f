// peak_memory FILE COMMAND [ARG...]: runs COMMAND, writes its peak resident size in KiB and its
// wall time in seconds, from fork to wait, to FILE, and exits with its status.
//
// Timed here rather than in the harness, a short command is not charged for the harness's own
// cost of starting a process. A child keeps its parent's peak resident size until it execs, so a command measured straight
// from a large harness would be charged for the harness; started from this small program, it
// is charged for no more than this program's own few pages.
#include <cstdio>
#include <ctime>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fputs("usage: peak_memory FILE COMMAND [ARG...]\n", stderr);
        return 125;
    }
    timespec started{};
    clock_gettime(CLOCK_MONOTONIC, &started);
    const pid_t child = fork();
    if (child < 0) {
        std::perror("peak_memory: fork");
        return 125;
    }
    if (child == 0) {
        execvp(argv[2], argv + 2);
        std::perror("peak_memory: exec");
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child) {
        std::perror("peak_memory: wait4");
        return 125;
    }
    timespec ended{};
    clock_gettime(CLOCK_MONOTONIC, &ended);
    const double seconds =
        static_cast<double>(ended.tv_sec - started.tv_sec) + static_cast<double>(ended.tv_nsec - started.tv_nsec) / 1e9;
    std::FILE* out = std::fopen(argv[1], "w");
    if (out == nullptr || std::fprintf(out, "%ld %.9f\n", static_cast<long>(usage.ru_maxrss), seconds) < 0 ||
        std::fclose(out) != 0) {
        std::perror("peak_memory: writing the peak");
        return 125;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
}
