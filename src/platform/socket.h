// CSocket: a move-only IPv4 socket that closes itself. The operating system's socket calls live
// only behind this class and the wait functions; callers see portable result codes.
//
// Threads: one socket may be read on one thread while another thread waits on it through the
// wait functions; Close must not race with a call on another thread (stop that thread first).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace norvane::platform {

// Portable socket error codes (each names the condition, whatever the platform's number).
enum class SocketError {
    None,
    WouldBlock,        // non-blocking call found nothing to do
    TimedOut,          // receive or send time-out of the socket
    MessageTooLong,    // a datagram larger than the buffer was received (its rest is lost)
    BadAddress,        // a buffer or address argument is invalid
    NetworkDown,       // the network subsystem failed
    NotInitialised,    // the socket library was not started (Windows)
    InvalidArgument,   // the socket is not in a state for this call (for example not bound)
    AddressInUse,      // bind: the port is taken
    ConnectionRefused, // connect: nobody listens
    ConnectionReset,   // the peer reset the connection
    Interrupted,       // a signal interrupted the call
    NotConnected,      // send or receive on a socket that is not connected
    Other,
};

// An IPv4 endpoint: the address in network byte order, the port in host byte order.
struct SocketAddress {
    std::uint32_t address = 0;
    std::uint16_t port = 0;

    friend bool operator==(const SocketAddress&, const SocketAddress&) = default;
};

// Address in network byte order of 127.0.0.1.
std::uint32_t LoopbackAddress();

// Result of one send or receive: a byte count, or an error.
struct IoResult {
    std::size_t bytes = 0;
    SocketError error = SocketError::None;

    [[nodiscard]] bool Ok() const { return error == SocketError::None; }
};

enum class ConnectResult { Connected, InProgress, Failed };

// One datagram of CSocket::ReceiveBatch: `buffer` says where it goes, the call fills in the rest.
struct Datagram {
    std::span<std::uint8_t> buffer;
    std::size_t bytes = 0; // bytes stored in `buffer`
    bool tooLong = false;  // the datagram was larger than `buffer`; its rest is lost
    SocketAddress from;
};

#if defined(_WIN32)
using NativeSocket = std::uintptr_t;
#else
using NativeSocket = int;
#endif

class CSocket {
public:
    CSocket() = default;
    ~CSocket();
    CSocket(const CSocket&) = delete;
    CSocket& operator=(const CSocket&) = delete;
    CSocket(CSocket&& other) noexcept;
    CSocket& operator=(CSocket&& other) noexcept;

    // CreateUdp and CreateTcp return an invalid socket on failure (see LastError).
    static CSocket CreateUdp();
    static CSocket CreateTcp();

    [[nodiscard]] bool IsValid() const;

    [[nodiscard]] NativeSocket Native() const { return m_handle; }

    void Close();

    // Options; each returns false when the system refuses it.
    bool SetReceiveBufferSize(std::uint32_t bytes);
    bool SetSendBufferSize(std::uint32_t bytes);
    // The receive buffer the system actually granted (Linux reports twice the requested value).
    [[nodiscard]] std::uint32_t ReceiveBufferSize() const;
    bool SetReceiveTimeout(std::uint32_t milliseconds);
    bool SetSendTimeout(std::uint32_t milliseconds);
    bool SetNonBlocking(bool nonBlocking);

    // The mode last set by SetNonBlocking (sockets start blocking).
    [[nodiscard]] bool IsNonBlocking() const { return m_nonBlocking; }

    bool SetReuseAddress(bool reuse);

    // Bind to `address` (network byte order, 0 = any) and `port` (0 = the system chooses).
    bool Bind(std::uint32_t address, std::uint16_t port);
    // The bound local port, 0 when the query fails.
    [[nodiscard]] std::uint16_t LocalPort() const;
    bool Listen(int backlog);
    // Accept one connection; invalid socket on failure. `peer` may be null.
    CSocket Accept(SocketAddress* peer);

    // Connect starts or completes a connection. With a non-blocking socket the result is usually
    // InProgress; wait for writability, then read PendingError.
    ConnectResult Connect(const SocketAddress& to);
    // The deferred error of a non-blocking connect (None when it succeeded).
    [[nodiscard]] SocketError PendingError() const;

    IoResult Send(std::span<const std::uint8_t> data);
    IoResult Receive(std::span<std::uint8_t> buffer);
    IoResult SendTo(std::span<const std::uint8_t> data, const SocketAddress& to);
    // Receives one datagram. A datagram larger than `buffer` yields MessageTooLong and is lost.
    // `from` may be null.
    IoResult ReceiveFrom(std::span<std::uint8_t> buffer, SocketAddress* from);
    // ReceiveBatch receives up to kMaxBatch datagrams with one call where the system allows:
    // it waits (as ReceiveFrom does) for the first only, then takes those already queued. It
    // returns how many it received; with none, `error` says why.
    static constexpr std::size_t kMaxBatch = 32;
    std::size_t ReceiveBatch(std::span<Datagram> datagrams, SocketError& error);
    bool ShutdownBoth();

    // The error of the last failed call on this thread, in portable form.
    static SocketError LastError();

private:
    explicit CSocket(NativeSocket handle) : m_handle(handle) {}

#if defined(_WIN32)
    static constexpr NativeSocket kInvalidHandle = ~static_cast<NativeSocket>(0);
#else
    static constexpr NativeSocket kInvalidHandle = -1;
#endif
    NativeSocket m_handle = kInvalidHandle;
    bool m_nonBlocking = false;
};

} // namespace norvane::platform
