// CEventHandle: a waitable, pollable event (an eventfd on Linux), so that a thread can wait for a
// socket and a stop request in one call. Manual-reset events stay set until reset; auto-reset
// events release one waiter and clear themselves.
//
// Threads: Set, Reset and the waits may be called from any thread.
#pragma once

#include <memory>

namespace norvane::platform {

class CEventHandle {
public:
    enum class Kind { ManualReset, AutoReset };

    // Create returns null when the system cannot create the event.
    static std::unique_ptr<CEventHandle> Create(Kind kind, bool initiallySet = false);

    ~CEventHandle();
    CEventHandle(const CEventHandle&) = delete;
    CEventHandle& operator=(const CEventHandle&) = delete;

    void Set();
    void Reset();

    // Wait returns true when the event was set within `timeoutMs` (negative: no limit). An
    // auto-reset event is cleared by a successful wait.
    bool Wait(int timeoutMs);

    // IsSet reports a manual-reset event's state without waiting or changing it.
    [[nodiscard]] bool IsSet() const;

    [[nodiscard]] Kind GetKind() const { return m_kind; }
    [[nodiscard]] int Native() const { return m_fd; }

    // TryConsume clears an auto-reset event that polled readable; false when another waiter was
    // first. Manual-reset events are never consumed (always true).
    bool TryConsume();

private:
    CEventHandle(int fd, Kind kind) : m_fd(fd), m_kind(kind) {}

    int m_fd;
    Kind m_kind;
};

} // namespace norvane::platform
