// peak_memory FILE COMMAND [ARG...]: runs COMMAND, writes its peak resident size in KiB to FILE
// and exits with its status.
//
// A child keeps its parent's peak resident size until it execs, so a command measured straight
// from a large harness would be charged for the harness; started from this small program, it
// is charged for no more than this program's own few pages.
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fputs("usage: peak_memory FILE COMMAND [ARG...]\n", stderr);
        return 125;
    }
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
    std::FILE* out = std::fopen(argv[1], "w");
    if (out == nullptr || std::fprintf(out, "%ld\n", static_cast<long>(usage.ru_maxrss)) < 0 ||
        std::fclose(out) != 0) {
        std::perror("peak_memory: writing the peak");
        return 125;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
}
