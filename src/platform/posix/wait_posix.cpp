// POSIX backend of the combined socket and event waits, on poll().
#include <array>
#include <cerrno>

#include <poll.h>

#include "platform/clock.h"
#include "platform/wait.h"

namespace norvane::platform {
namespace {

// RemainingMs converts an absolute deadline into a poll() time-out (-1: no limit).
int RemainingMs(int timeoutMs, std::uint64_t deadline) {
    if (timeoutMs < 0) {
        return -1;
    }
    const std::uint64_t now = MonotonicMs();
    return now >= deadline ? 0 : static_cast<int>(deadline - now);
}

} // namespace

WaitResult WaitSocket(const CSocket& socket, WaitFor what, CEventHandle* stop, int timeoutMs) {
    const std::uint64_t deadline =
            MonotonicMs() + static_cast<std::uint64_t>(timeoutMs < 0 ? 0 : timeoutMs);
    const short events = what == WaitFor::Read ? POLLIN : POLLOUT;
    for (;;) {
        std::array<pollfd, 2> fds{};
        fds[0] = {socket.Native(), events, 0};
        nfds_t count = 1;
        if (stop != nullptr) {
            fds[1] = {stop->Native(), POLLIN, 0};
            count = 2;
        }
        const int remaining = RemainingMs(timeoutMs, deadline);
        const int ready = ::poll(fds.data(), count, remaining);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return WaitResult::Error;
        }
        if (count == 2 && (fds[1].revents & POLLIN) != 0 && stop->TryConsume()) {
            return WaitResult::Stopped;
        }
        if ((fds[0].revents & (events | POLLERR | POLLHUP)) != 0) {
            return WaitResult::Ready;
        }
        if ((fds[0].revents & POLLNVAL) != 0) {
            return WaitResult::Error;
        }
        if (ready == 0 && remaining == 0) {
            return WaitResult::Timeout;
        }
    }
}

int WaitEvents(std::initializer_list<CEventHandle*> events, int timeoutMs) {
    constexpr std::size_t kMaxEvents = 8;
    if (events.size() == 0 || events.size() > kMaxEvents) {
        return -2;
    }
    const std::uint64_t deadline =
            MonotonicMs() + static_cast<std::uint64_t>(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        std::array<pollfd, kMaxEvents> fds{};
        std::size_t i = 0;
        for (CEventHandle* event : events) {
            fds[i++] = {event != nullptr ? event->Native() : -1, POLLIN, 0};
        }
        const int remaining = RemainingMs(timeoutMs, deadline);
        const int ready = ::poll(fds.data(), events.size(), remaining);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -2;
        }
        i = 0;
        for (CEventHandle* event : events) {
            if (event != nullptr && (fds[i].revents & POLLIN) != 0 && event->TryConsume()) {
                return static_cast<int>(i);
            }
            ++i;
        }
        if (ready == 0 && remaining == 0) {
            return -1;
        }
    }
}

} // namespace norvane::platform
