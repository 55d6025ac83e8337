// Windows backend of the combined socket and event waits. The socket is tied to an event object
// with WSAEventSelect for the wait only, so that one WaitForMultipleObjects covers the socket and
// the stop event; readiness is confirmed with a zero-time select, as the network events only say
// that something happened.
#include <array>

#include <winsock2.h>

#include "platform/clock.h"
#include "platform/wait.h"

namespace norvane::platform {
namespace {

DWORD RemainingMs(int timeoutMs, std::uint64_t deadline) {
    if (timeoutMs < 0) {
        return INFINITE;
    }
    const std::uint64_t now = MonotonicMs();
    return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

// IsReady polls the socket without waiting: readable (data, a connection to accept, the peer's
// close, an error) or writable (connected, or a failed connect, which Windows reports as an
// exception).
enum class Poll { Ready, NotReady, Error };

Poll PollSocket(SOCKET s, WaitFor what) {
    fd_set main;
    fd_set failed;
    FD_ZERO(&main);
    FD_ZERO(&failed);
    FD_SET(s, &main);
    FD_SET(s, &failed);
    timeval zero{};
    const int result = ::select(0, what == WaitFor::Read ? &main : nullptr,
                                what == WaitFor::Write ? &main : nullptr, &failed, &zero);
    if (result == SOCKET_ERROR) {
        return Poll::Error;
    }
    return result > 0 ? Poll::Ready : Poll::NotReady;
}

// CSocketEventScope ties a socket to an event object for one wait and restores the socket's
// blocking mode afterwards (WSAEventSelect makes a socket non-blocking).
class CSocketEventScope {
public:
    CSocketEventScope(const CSocket& socket, WaitFor what)
        : m_socket(static_cast<SOCKET>(socket.Native()))
        , m_restoreBlocking(!socket.IsNonBlocking())
        , m_event(::WSACreateEvent()) {
        const long events = what == WaitFor::Read ? (FD_READ | FD_ACCEPT | FD_CLOSE)
                                                  : (FD_WRITE | FD_CONNECT | FD_CLOSE);
        m_ok = m_event != WSA_INVALID_EVENT && ::WSAEventSelect(m_socket, m_event, events) == 0;
    }

    ~CSocketEventScope() {
        if (m_event != WSA_INVALID_EVENT) {
            ::WSAEventSelect(m_socket, nullptr, 0);
            ::WSACloseEvent(m_event);
            if (m_restoreBlocking) {
                u_long mode = 0;
                ::ioctlsocket(m_socket, static_cast<long>(FIONBIO), &mode);
            }
        }
    }

    CSocketEventScope(const CSocketEventScope&) = delete;
    CSocketEventScope& operator=(const CSocketEventScope&) = delete;

    [[nodiscard]] bool Ok() const { return m_ok; }

    [[nodiscard]] HANDLE Event() const { return m_event; }

    // Clear forgets the recorded network events, so that the next wait sees only new ones.
    void Clear() {
        WSANETWORKEVENTS events{};
        ::WSAEnumNetworkEvents(m_socket, m_event, &events);
    }

private:
    SOCKET m_socket;
    bool m_restoreBlocking;
    WSAEVENT m_event;
    bool m_ok = false;
};

bool StopRequested(CEventHandle* stop) {
    return stop != nullptr &&
           ::WaitForSingleObject(static_cast<HANDLE>(stop->Native()), 0) == WAIT_OBJECT_0;
}

} // namespace

WaitResult WaitSocket(const CSocket& socket, WaitFor what, CEventHandle* stop, int timeoutMs) {
    const std::uint64_t deadline =
            MonotonicMs() + static_cast<std::uint64_t>(timeoutMs < 0 ? 0 : timeoutMs);
    if (!socket.IsValid()) {
        return WaitResult::Error;
    }
    if (StopRequested(stop)) {
        return WaitResult::Stopped;
    }
    const SOCKET s = static_cast<SOCKET>(socket.Native());
    CSocketEventScope scope(socket, what);
    if (!scope.Ok()) {
        return WaitResult::Error;
    }
    for (;;) {
        switch (PollSocket(s, what)) {
        case Poll::Ready:
            return StopRequested(stop) ? WaitResult::Stopped : WaitResult::Ready;
        case Poll::Error:
            return WaitResult::Error;
        case Poll::NotReady:
            break;
        }
        std::array<HANDLE, 2> handles{};
        DWORD count = 0;
        if (stop != nullptr) {
            handles[count++] = static_cast<HANDLE>(stop->Native());
        }
        handles[count++] = scope.Event();
        const DWORD remaining = RemainingMs(timeoutMs, deadline);
        const DWORD result = ::WaitForMultipleObjects(count, handles.data(), FALSE, remaining);
        if (result == WAIT_TIMEOUT) {
            return PollSocket(s, what) == Poll::Ready ? WaitResult::Ready : WaitResult::Timeout;
        }
        if (result >= WAIT_OBJECT_0 + count) {
            return WaitResult::Error;
        }
        if (stop != nullptr && result == WAIT_OBJECT_0) {
            return WaitResult::Stopped;
        }
        scope.Clear();
    }
}

int WaitEvents(std::initializer_list<CEventHandle*> events, int timeoutMs) {
    constexpr std::size_t kMaxEvents = 8;
    if (events.size() == 0 || events.size() > kMaxEvents) {
        return -2;
    }
    // Null entries take no part; the index map leads back to the caller's positions.
    std::array<HANDLE, kMaxEvents> handles{};
    std::array<int, kMaxEvents> indexOf{};
    DWORD count = 0;
    int index = 0;
    for (CEventHandle* event : events) {
        if (event != nullptr) {
            handles[count] = static_cast<HANDLE>(event->Native());
            indexOf[count] = index;
            ++count;
        }
        ++index;
    }
    const DWORD limit = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
    if (count == 0) {
        if (timeoutMs < 0) {
            return -2; // nothing could ever end the wait
        }
        ::Sleep(limit);
        return -1;
    }
    // The lowest signalled index wins, as on every platform.
    const DWORD result = ::WaitForMultipleObjects(count, handles.data(), FALSE, limit);
    if (result == WAIT_TIMEOUT) {
        return -1;
    }
    if (result >= WAIT_OBJECT_0 + count) {
        return -2;
    }
    return indexOf[result - WAIT_OBJECT_0];
}

} // namespace norvane::platform
