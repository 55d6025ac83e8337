// POSIX backend of the clocks and the process and thread services.
#include <cerrno>
#include <chrono>
#include <climits>
#include <thread>

#include <netinet/in.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/system.h"

namespace norvane::platform {

std::uint64_t UtcNow100ns() {
    const auto since1970 = std::chrono::system_clock::now().time_since_epoch();
    const auto ticks =
            std::chrono::duration_cast<
                    std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>>(since1970)
                    .count();
    if (ticks < 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(ticks) + kEpoch1601To1970;
}

std::uint64_t MonotonicMs() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

std::uint64_t MonotonicUs() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(now).count());
}

std::string LocalHostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    return name;
}

std::uint32_t CurrentThreadId() {
    // Asked on every lock; the system call is made once per thread.
    thread_local const auto id = static_cast<std::uint32_t>(::syscall(SYS_gettid));
    return id;
}

unsigned ProcessorCount() {
    const unsigned count = std::thread::hardware_concurrency();
    return count == 0 ? 1 : count;
}

void RaiseCurrentThreadPriority() {
    // Linux threads have their own nice value; lowering it by one needs privilege, and without it
    // the thread keeps normal priority. A raised thread also becomes a batch thread: it keeps its
    // larger share of the processor under load but no longer preempts the running thread each
    // time a datagram wakes it. A local sender (a camera simulator, a proxy) would otherwise be
    // interrupted after every packet of a frame's burst, and the receiver would wake once per
    // packet instead of once per burst; the socket buffer holds far more than the few
    // milliseconds the receiver may now wait for a processor.
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, tid);
    if (errno == 0 && ::setpriority(PRIO_PROCESS, tid, current - 1) == 0) {
        sched_param param{};
        ::sched_setscheduler(static_cast<pid_t>(tid), SCHED_BATCH, &param);
    }
}

void SleepMs(std::uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool StartSockets() {
    return true;
}

void CleanupSockets() {}

} // namespace norvane::platform
