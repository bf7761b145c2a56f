#pragma once
#include <pthread.h>

namespace blockset {

/// How many processors this process may run on: its affinity mask's, where the system tells
/// it, else the processors online. Read from the system once in a run.
int usable_processors();

/// A thread on a second processor, for work whose result cannot differ from doing it in turn.
/// It takes no signal (they stay with the main thread, whose handlers expect them there), and
/// it is started only where it can help: with one usable processor, or without a thread to be
/// had, start() starts nothing and the caller does the work itself. Starting allocates nothing
/// through operator new, so that it cannot end the run for want of memory. The thread's stack
/// is mapped for it and given back when it is joined, so that a run that started one needs no
/// more address space afterwards than one that did not.
class helper_thread {
public:
    helper_thread() = default;
    ~helper_thread() { join(); }
    helper_thread(const helper_thread&) = delete;
    helper_thread& operator=(const helper_thread&) = delete;

    /// Runs work(argument) on a new thread; false when none was started.
    bool start(void (*work)(void*), void* argument);
    /// Waits for the work to end; at once when none runs.
    void join();

private:
    void (*work_)(void*) = nullptr;
    void* argument_ = nullptr;
    bool running_ = false;
    void* stack_ = nullptr;
    pthread_t thread_{};
};

} // namespace blockset
