#include <cerrno>
#include <thread>

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/system.h"

namespace norvane::platform {
namespace {

struct ThreadScheduling {
    int nice = 0;
    int policy = 0;
};

ThreadScheduling Current() {
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    errno = 0;
    ThreadScheduling now;
    now.nice = ::getpriority(PRIO_PROCESS, tid);
    now.policy = ::sched_getscheduler(static_cast<pid_t>(tid));
    return now;
}

// A raised receive thread gets one nice step and stops preempting on wake-up; where the system
// refuses the nice step the thread stays exactly as it was (never lowered to a batch thread
// without the raise).
TEST(RaiseCurrentThreadPriority, OneNiceStepAndBatchOrNothing) {
    ThreadScheduling before;
    ThreadScheduling after;
    std::thread thread([&] {
        before = Current();
        RaiseCurrentThreadPriority();
        after = Current();
    });
    thread.join();
    ASSERT_EQ(before.policy, SCHED_OTHER);
    if (after.nice == before.nice) {
        EXPECT_EQ(after.policy, SCHED_OTHER) << "batch without the raise";
        GTEST_SKIP() << "this process may not lower a nice value";
    }
    EXPECT_EQ(after.nice, before.nice - 1);
    EXPECT_EQ(after.policy, SCHED_BATCH);
}

} // namespace
} // namespace norvane::platform
