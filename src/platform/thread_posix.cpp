#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>

#include "platform/thread.h"

namespace kestrowan {

namespace {

struct ThreadStart {
    ThreadMain main;
    void* argument;
};

// Start records are never freed. A thread's first call into the allocator, a free included,
// makes the C library set up a heap for that thread: a handful of memory-map calls, which on
// a virtual machine cost as much as the rest of the filter's start together. The filter starts
// a handful of threads in its life: two at its start, the writer of the engine's input when the
// engine falls behind, and one for each write that may have to be given up on its way out.
constexpr int kMaxThreadStarts = 16;
ThreadStart threadStarts[kMaxThreadStarts];
std::atomic<int> threadStartsUsed{0};

void* threadEntry(void* raw) {
    const ThreadStart& start = *static_cast<const ThreadStart*>(raw);
    start.main(start.argument);
    return nullptr;
}

}  // namespace

namespace {

int start(ThreadMain main, void* argument, std::size_t stackSize, bool detached,
          pthread_t& thread) {
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) {
        return EAGAIN;
    }
    const long minimum = sysconf(_SC_THREAD_STACK_MIN);
    const long pageSize = sysconf(_SC_PAGESIZE);
    stackSize = validStackSize(stackSize, minimum > 0 ? minimum : PTHREAD_STACK_MIN,
                               pageSize > 0 ? pageSize : 1);
    int error = pthread_attr_setstacksize(&attributes, stackSize);
    if (error == 0 && detached) {
        error = pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    }
    const int slot = threadStartsUsed.fetch_add(1);
    if (error == 0 && slot >= kMaxThreadStarts) {
        error = EAGAIN;
    }
    if (error == 0) {
        threadStarts[slot] = ThreadStart{main, argument};
        error = pthread_create(&thread, &attributes, threadEntry, &threadStarts[slot]);
    }
    pthread_attr_destroy(&attributes);
    return error;
}

}  // namespace

Handle startThread(ThreadMain main, void* argument, std::size_t stackSize) {
    pthread_t thread{};
    const int error = start(main, argument, stackSize, false, thread);
    if (error != 0) {
        errno = error;
        return kNoHandle;
    }
    static_assert(sizeof(pthread_t) <= sizeof(Handle));
    return static_cast<Handle>(thread);
}

// Detached from its start, so that it never counts as a thread that nobody joined, however
// soon the process ends after it.
bool startDetachedThread(ThreadMain main, void* argument, std::size_t stackSize) {
    pthread_t thread{};
    const int error = start(main, argument, stackSize, true, thread);
    errno = error != 0 ? error : errno;
    return error == 0;
}

bool joinThread(Handle thread, std::uint32_t timeoutMs) {
    // pthread_timedjoin_np rather than the monotonic pthread_clockjoin_np: ThreadSanitizer
    // (GCC 12) does not intercept the latter, misses the join and reports the filter's closing
    // of the pipe ends after it as a race with the finished output thread.
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += static_cast<time_t>(timeoutMs / 1000);
    deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    int error = pthread_timedjoin_np(static_cast<pthread_t>(thread), nullptr, &deadline);
    if (error != 0) {
        errno = error;
        return false;
    }
    return true;
}

}  // namespace kestrowan
