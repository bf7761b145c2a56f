#include "platform/helper_thread.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstddef>

#include "platform/pages.h"

#if defined(__linux__)
#include <sched.h>
#elif defined(__FreeBSD__)
#include <sys/param.h>
#include <sys/cpuset.h>
#endif

namespace blockset {

namespace {

/// The thread's stack: its work is loops a few calls deep. Its lowest page guards it.
constexpr std::size_t stack_bytes = 256 * 1024;
constexpr std::size_t stack_block = stack_bytes + small_page;

int count_usable_processors()
{
#if defined(__linux__)
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0) return CPU_COUNT(&allowed);
#elif defined(__FreeBSD__)
    cpuset_t allowed;
    if (cpuset_getaffinity(CPU_LEVEL_WHICH, CPU_WHICH_PID, -1, sizeof allowed, &allowed) == 0) return CPU_COUNT(&allowed);
#endif
    const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int>(online) : 1;
}

/// Asks that the thread run on any allowed processor but the caller's. A new thread is put
/// beside its starter and shares that processor until the system moves it, a few milliseconds
/// later, which is most of a short task; on Linux it starts on another one.
void keep_apart([[maybe_unused]] pthread_attr_t& attributes)
{
#if defined(__linux__)
    cpu_set_t allowed;
    const int here = sched_getcpu();
    if (here < 0 || here >= CPU_SETSIZE || sched_getaffinity(0, sizeof allowed, &allowed) != 0) return;
    CPU_CLR(here, &allowed);
    if (CPU_COUNT(&allowed) > 0) pthread_attr_setaffinity_np(&attributes, sizeof allowed, &allowed);
#endif
}

} // namespace

int usable_processors()
{
    static const int count = count_usable_processors();
    return count;
}

bool helper_thread::start(void (*work)(void*), void* argument)
{
    if (running_ || usable_processors() < 2) return false;
    work_ = work;
    argument_ = argument;
    // A stack of the library's own would be kept for another thread after this one ends.
    stack_ = page_block_map(stack_block);
    if (stack_ == nullptr) return false;
    page_block_guard(stack_, small_page);
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) == 0) {
        if (pthread_attr_setstack(&attributes, static_cast<char*>(stack_) + small_page, stack_bytes) == 0) {
            keep_apart(attributes);
            sigset_t every, kept;
            sigfillset(&every);
            pthread_sigmask(SIG_SETMASK, &every, &kept);
            running_ = pthread_create(&thread_, &attributes, [](void* self) -> void* {
                auto* helper = static_cast<helper_thread*>(self);
                helper->work_(helper->argument_);
                return nullptr;
            }, this) == 0;
            pthread_sigmask(SIG_SETMASK, &kept, nullptr);
        }
        pthread_attr_destroy(&attributes);
    }
    if (!running_) {
        page_block_unmap(stack_, stack_block);
        stack_ = nullptr;
    }
    return running_;
}

void helper_thread::join()
{
    if (!running_) return;
    pthread_join(thread_, nullptr);
    running_ = false;
    page_block_unmap(stack_, stack_block);
    stack_ = nullptr;
}

} // namespace blockset
