#pragma once
#include <pthread.h>

namespace blockset {

/// A thread on the machine's second processor, for work whose result cannot differ from
/// doing it in turn. It takes no signal (they stay with the main thread, whose handlers
/// expect them there), and it is started only where it can help: with one processor, or
/// without a thread to be had, start() starts nothing and the caller does the work itself.
/// Starting allocates nothing through operator new, so that it cannot end the run for want
/// of memory.
class second_processor {
public:
    second_processor() = default;
    ~second_processor() { join(); }
    second_processor(const second_processor&) = delete;
    second_processor& operator=(const second_processor&) = delete;

    /// Runs work(argument) on a new thread; false when none was started.
    bool start(void (*work)(void*), void* argument);
    /// Waits for the work to end; at once when none runs.
    void join();
    bool running() const { return running_; }

private:
    void (*work_)(void*) = nullptr;
    void* argument_ = nullptr;
    bool running_ = false;
    pthread_t thread_{};
};

} // namespace blockset
