// POSIX backend of CEventHandle on eventfd: the counter is non-zero while the event is set.
#include <cerrno>
#include <cstdint>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/event_handle.h"

namespace norvane::platform {

std::unique_ptr<CEventHandle> CEventHandle::Create(Kind kind, bool initiallySet) {
    const int fd = ::eventfd(initiallySet ? 1U : 0U, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) {
        return nullptr;
    }
    return std::unique_ptr<CEventHandle>(new CEventHandle(fd, kind));
}

CEventHandle::~CEventHandle() {
    ::close(m_handle);
}

void CEventHandle::Set() {
    const std::uint64_t one = 1;
    // EAGAIN means the counter is at its maximum: the event is set anyway.
    [[maybe_unused]] const ssize_t written = ::write(m_handle, &one, sizeof one);
}

void CEventHandle::Reset() {
    std::uint64_t value = 0;
    [[maybe_unused]] const ssize_t read = ::read(m_handle, &value, sizeof value);
}

bool CEventHandle::TryConsume() {
    if (m_kind == Kind::ManualReset) {
        return true;
    }
    std::uint64_t value = 0;
    return ::read(m_handle, &value, sizeof value) == static_cast<ssize_t>(sizeof value);
}

bool CEventHandle::IsSet() const {
    pollfd pfd{m_handle, POLLIN, 0};
    return ::poll(&pfd, 1, 0) == 1 && (pfd.revents & POLLIN) != 0;
}

bool CEventHandle::Wait(int timeoutMs) {
    const std::uint64_t deadline =
            MonotonicMs() + static_cast<std::uint64_t>(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        int remaining = -1;
        if (timeoutMs >= 0) {
            const std::uint64_t now = MonotonicMs();
            remaining = now >= deadline ? 0 : static_cast<int>(deadline - now);
        }
        pollfd pfd{m_handle, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, remaining);
        if (ready < 0 && errno != EINTR) {
            return false;
        }
        if (ready > 0 && TryConsume()) {
            return true;
        }
        if (ready == 0 && remaining == 0) {
            return false;
        }
    }
}

} // namespace norvane::platform
