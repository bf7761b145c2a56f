#include "io/second_processor.h"

#include "ranges/page_storage.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstddef>

namespace blockset {

namespace {

/// The thread's stack: its work is loops a few calls deep.
constexpr std::size_t stack_bytes = 256 * 1024;

} // namespace

bool second_processor::start(void (*work)(void*), void* argument)
{
    // The count is read from the system once in a run: on Linux that opens a file.
    static const bool several = ::sysconf(_SC_NPROCESSORS_ONLN) >= 2;
    if (running_ || !several) return false;
    work_ = work;
    argument_ = argument;
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return false;
    pthread_attr_setstacksize(&attributes, stack_bytes);
    thread_keeps_apart(attributes);
    sigset_t every, kept;
    sigfillset(&every);
    pthread_sigmask(SIG_SETMASK, &every, &kept);
    running_ = pthread_create(&thread_, &attributes, [](void* self) -> void* {
        auto* processor = static_cast<second_processor*>(self);
        processor->work_(processor->argument_);
        return nullptr;
    }, this) == 0;
    pthread_sigmask(SIG_SETMASK, &kept, nullptr);
    pthread_attr_destroy(&attributes);
    return running_;
}

void second_processor::join()
{
    if (!running_) return;
    pthread_join(thread_, nullptr);
    running_ = false;
}

} // namespace blockset
