// CUDPPort: one IPv4 UDP socket bound to a local port and a receive thread that hands every
// datagram to a user (IUDPPortUser). The UDP packet source embeds one port and is its user; the
// channels choose the port number, open and close it. The port knows nothing about RTP.
//
// Threads: Open, Close and SetUser run on the owner's thread under m_lock. OnReceive, OnTimeout
// and a fatal-error OnClosed run on the receive thread without the lock. Close wakes the receive
// thread through a stop event and waits for it (unless called on it), so it returns at once rather
// than after a readiness time-out. User callbacks must not call Open or SetUser of their own port.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/event_handle.h"
#include "platform/socket.h"

namespace norvane {

class CUDPPort;

class IUDPPortUser {
public:
    virtual ~IUDPPortUser() = default;
    // OnReceive gets one datagram of `length` (at least 1) bytes, valid only during the call. It
    // returns true when more datagrams of the same burst are due right after this one (a frame
    // that is not complete yet): the port then lets them gather briefly before it waits again.
    virtual bool OnReceive(CUDPPort* port, const platform::SocketAddress& from,
                           const std::uint8_t* data, std::int32_t length) = 0;
    // OnTimeout: no datagram arrived within one wait time.
    virtual void OnTimeout() = 0;

    // HoldTimeoutMs: how long the next wait may last at most because the user holds data back
    // that it must release in time; -1 when it holds nothing. Asked before each wait.
    virtual int HoldTimeoutMs() { return -1; }

    // OnHoldTimeout: the wait HoldTimeoutMs bounded ended without a datagram.
    virtual void OnHoldTimeout() {}

    // OnClosed: the port was closed, or its receive thread ended on a fatal socket error.
    virtual void OnClosed(CUDPPort* port) = 0;
};

// Results of CUDPPort::Open.
enum class UdpOpenResult : int {
    Opened = 1,       // socket bound and receive thread running
    AlreadyOpen = 2,  // nothing changed
    SocketFailed = 5, // the socket could not be created or configured
    BindFailed = 6,   // socket closed again
    BufferFailed = 8, // the receive buffer could not be set; socket closed again
    ThreadFailed = 9, // the receive thread could not start; socket closed again
};

// What the receive thread does after a failed readiness wait.
enum class UdpWaitAction {
    Fatal,   // report OnClosed and end the thread
    Receive, // try the receive anyway
    Retry,   // pause briefly and wait again
};

// ClassifyWaitError maps the error of a failed readiness wait: bad address, network down and a
// socket library not started end reception; an invalid argument goes on to the receive (which
// reports the real state); anything else is retried.
[[nodiscard]] UdpWaitAction ClassifyWaitError(platform::SocketError error);

class CUDPPort {
public:
    // Socket receive buffer asked for: room for the packet bursts of a key frame while the
    // receive thread delivers a frame. Systems that cap it grant their maximum.
    static constexpr std::uint32_t kSocketReceiveBufferBytes = 2 * 1024 * 1024;
    static constexpr std::uint32_t kDefaultBufferSize = 65536; // datagram buffer
    static constexpr std::uint32_t kBufferGrowth = 1024;       // after a datagram too long
    static constexpr std::uint32_t kBufferShrinkSlack = 2048;  // smaller requests keep the buffer
    // Datagrams received after one readiness wait before the thread waits (and checks its stop
    // event) again.
    static constexpr std::size_t kMaxDrainPerWait = 256;
    // A draining thread receives up to this many datagrams with one system call, as far as
    // kBatchBytes of datagram buffers allow.
    static constexpr std::size_t kMaxBatchDatagrams = 16;
    static constexpr std::size_t kBatchBytes = 64 * 1024;
    // When a draining round emptied the queue in the middle of a burst (the user expects more),
    // the thread pauses this long before it waits again. A camera sends a frame as a burst of
    // packets, and a receiver that wakes for each packet spends more on the wake-ups than on the
    // receives; the pause lets the rest of the burst arrive and delays a frame by at most this
    // much. After the end of a burst the thread waits at once.
    static constexpr int kDefaultGatherMs = 2;

    CUDPPort();
    ~CUDPPort();
    CUDPPort(const CUDPPort&) = delete;
    CUDPPort& operator=(const CUDPPort&) = delete;

    void SetUser(IUDPPortUser* user);

    // Open binds any local address and `localPort` (0: the system chooses) and starts the receive
    // thread.
    [[nodiscard]] UdpOpenResult Open(std::uint16_t localPort);

    // Close stops the receive thread, closes the socket and reports OnClosed to the user; harmless
    // (and silent) on a closed port. Always true.
    bool Close();

    // SetBufferSize sets the datagram buffer size; the receive thread adopts it before its next
    // receive.
    void SetBufferSize(std::uint32_t bytes) { m_bufferSize.store(bytes); }

    [[nodiscard]] std::uint32_t BufferSize() const { return m_bufferSize.load(); }

    // SetTimeout sets the wait time after which OnTimeout is reported; zero in both parts waits
    // without limit and reports no time-outs.
    void SetTimeout(std::int32_t seconds, std::int32_t microseconds);

    // SetDrainQueued chooses whether the thread receives every queued datagram after one
    // readiness wait (the default) or exactly one.
    void SetDrainQueued(bool drain) { m_drainQueued.store(drain); }

    // SetGatherMs sets the pause after a draining round (0: none).
    void SetGatherMs(int milliseconds) { m_gatherMs.store(milliseconds); }

    [[nodiscard]] std::uint16_t LocalPort() const { return m_localPort.load(); }

    [[nodiscard]] bool IsOpen() const;

    // GrantedReceiveBufferSize is the socket receive buffer the system reported after Open
    // (Linux reports twice the usable size).
    [[nodiscard]] std::uint32_t GrantedReceiveBufferSize() const { return m_grantedBuffer.load(); }

    [[nodiscard]] std::uint32_t ThreadId() const { return m_threadId.load(); }

private:
    void ReceiveLoop();

    // The receive thread's datagram buffers: `slots` point into `storage`, one datagram buffer
    // each. The storage is left uninitialised: only the pages the system writes datagrams into
    // become resident, which matters with hundreds of ports in one process.
    struct ReceiveBatch {
        std::unique_ptr<std::uint8_t[]> storage;
        std::vector<platform::Datagram> slots;
    };

    // ReceiveQueued receives the ready datagram and, when draining, those queued behind it; true
    // when it emptied the queue and the user expects more of the burst.
    bool ReceiveQueued(ReceiveBatch& batch);
    // AdjustBatch sizes the batch to the datagram buffer size.
    void AdjustBatch(ReceiveBatch& batch) const;
    [[nodiscard]] int WaitTimeoutMs() const;
    void NotifyClosed();
    void JoinStoppedThread();

    mutable std::mutex m_lock;
    std::atomic<IUDPPortUser*> m_user{nullptr};
    platform::CSocket m_socket;
    std::atomic<std::uint16_t> m_localPort{0};
    std::thread m_thread;
    std::atomic<std::uint32_t> m_threadId{0};
    std::atomic<std::uint32_t> m_bufferSize{kDefaultBufferSize};
    std::atomic<std::int32_t> m_timeoutSec{5};
    std::atomic<std::int32_t> m_timeoutUsec{0};
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_drainQueued{true};
    std::atomic<int> m_gatherMs{kDefaultGatherMs};
    std::atomic<std::uint32_t> m_grantedBuffer{0};
    std::unique_ptr<platform::CEventHandle> m_stopEvent;
};

} // namespace norvane
