// CEventHandle: a waitable, pollable event (an eventfd on Linux, an event object on Windows), so
// that a thread can wait for a socket and a stop request in one call. Manual-reset events stay set
// until reset; auto-reset events release one waiter and clear themselves.
//
// Threads: Set, Reset and the waits may be called from any thread.
#pragma once

#include <memory>

namespace norvane::platform {

// The system's handle of an event: a file descriptor, or a Windows HANDLE.
#if defined(_WIN32)
using NativeEvent = void*;
#else
using NativeEvent = int;
#endif

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

    [[nodiscard]] NativeEvent Native() const { return m_handle; }

    // TryConsume clears an auto-reset event that polled readable; false when another waiter was
    // first. Manual-reset events are never consumed (always true).
    bool TryConsume();

private:
    CEventHandle(NativeEvent handle, Kind kind) : m_handle(handle), m_kind(kind) {}

    NativeEvent m_handle;
    Kind m_kind;
};

} // namespace norvane::platform
