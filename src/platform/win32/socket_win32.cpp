// Windows backend of CSocket on Winsock 2. The socket library must be started (StartSockets) by
// whoever uses these sockets.
// winsock2.h must come before the headers that extend it.
// clang-format off
#include <algorithm>

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
// clang-format on

#include "platform/socket.h"

namespace norvane::platform {
namespace {

#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

SocketError FromWsa(int error) {
    switch (error) {
    case 0:
        return SocketError::None;
    case WSAEWOULDBLOCK:
    case WSAEINPROGRESS:
    case WSAEALREADY:
        return SocketError::WouldBlock;
    case WSAETIMEDOUT:
        return SocketError::TimedOut;
    case WSAEMSGSIZE:
        return SocketError::MessageTooLong;
    case WSAEFAULT:
        return SocketError::BadAddress;
    case WSAENETDOWN:
        return SocketError::NetworkDown;
    case WSANOTINITIALISED:
        return SocketError::NotInitialised;
    case WSAEINVAL:
    case WSAENOTSOCK:
        return SocketError::InvalidArgument;
    case WSAEADDRINUSE:
        return SocketError::AddressInUse;
    case WSAECONNREFUSED:
        return SocketError::ConnectionRefused;
    case WSAECONNRESET:
    case WSAECONNABORTED:
        return SocketError::ConnectionReset;
    case WSAEINTR:
        return SocketError::Interrupted;
    case WSAENOTCONN:
        return SocketError::NotConnected;
    default:
        return SocketError::Other;
    }
}

SOCKET Raw(NativeSocket handle) {
    return static_cast<SOCKET>(handle);
}

sockaddr_in ToSockaddr(const SocketAddress& address) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = address.address;
    sa.sin_port = htons(address.port);
    return sa;
}

bool SetIntOption(NativeSocket handle, int level, int name, int value) {
    return ::setsockopt(Raw(handle), level, name, reinterpret_cast<const char*>(&value),
                        sizeof value) == 0;
}

// Winsock takes its time-outs as a DWORD of milliseconds.
bool SetTimeoutOption(NativeSocket handle, int name, std::uint32_t milliseconds) {
    const DWORD value = milliseconds;
    return ::setsockopt(Raw(handle), SOL_SOCKET, name, reinterpret_cast<const char*>(&value),
                        sizeof value) == 0;
}

// Winsock's transfer calls take an int length; a larger buffer is used up to INT_MAX.
int ClampLength(std::size_t length) {
    constexpr std::size_t kMax = 0x7fffffff;
    return static_cast<int>(length < kMax ? length : kMax);
}

IoResult FromCall(int result) {
    if (result == SOCKET_ERROR) {
        return {0, FromWsa(::WSAGetLastError())};
    }
    return {static_cast<std::size_t>(result), SocketError::None};
}

// The overlapped attribute (which socket() also gives) is what makes SO_RCVTIMEO work.
NativeSocket Open(int type, int protocol) {
    const SOCKET s = ::WSASocketW(AF_INET, type, protocol, nullptr, 0,
                                  WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    return static_cast<NativeSocket>(s);
}

} // namespace

std::uint32_t LoopbackAddress() {
    return htonl(INADDR_LOOPBACK);
}

CSocket CSocket::CreateUdp() {
    CSocket socket(Open(SOCK_DGRAM, IPPROTO_UDP));
    if (socket.IsValid()) {
        // A port-unreachable answer to an earlier datagram would otherwise fail the next receive
        // with WSAECONNRESET; a receiver must keep receiving. Failure leaves the default.
        BOOL report = FALSE;
        DWORD returned = 0;
        ::WSAIoctl(Raw(socket.m_handle), SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0,
                   &returned, nullptr, nullptr);
    }
    return socket;
}

CSocket CSocket::CreateTcp() {
    return CSocket(Open(SOCK_STREAM, IPPROTO_TCP));
}

bool CSocket::IsValid() const {
    return m_handle != kInvalidHandle;
}

void CSocket::Close() {
    if (m_handle != kInvalidHandle) {
        ::closesocket(Raw(m_handle));
        m_handle = kInvalidHandle;
        m_nonBlocking = false;
    }
}

bool CSocket::SetReceiveBufferSize(std::uint32_t bytes) {
    return SetIntOption(m_handle, SOL_SOCKET, SO_RCVBUF, static_cast<int>(bytes));
}

bool CSocket::SetSendBufferSize(std::uint32_t bytes) {
    return SetIntOption(m_handle, SOL_SOCKET, SO_SNDBUF, static_cast<int>(bytes));
}

std::uint32_t CSocket::ReceiveBufferSize() const {
    int value = 0;
    int length = sizeof value;
    if (::getsockopt(Raw(m_handle), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&value),
                     &length) != 0 ||
        value < 0) {
        return 0;
    }
    return static_cast<std::uint32_t>(value);
}

bool CSocket::SetReceiveTimeout(std::uint32_t milliseconds) {
    return SetTimeoutOption(m_handle, SO_RCVTIMEO, milliseconds);
}

bool CSocket::SetSendTimeout(std::uint32_t milliseconds) {
    return SetTimeoutOption(m_handle, SO_SNDTIMEO, milliseconds);
}

bool CSocket::SetNonBlocking(bool nonBlocking) {
    u_long mode = nonBlocking ? 1 : 0;
    if (::ioctlsocket(Raw(m_handle), static_cast<long>(FIONBIO), &mode) != 0) {
        return false;
    }
    m_nonBlocking = nonBlocking;
    return true;
}

bool CSocket::SetReuseAddress(bool reuse) {
    // SO_REUSEADDR on Windows lets a second socket take a port in use; what the caller wants is
    // the POSIX meaning (rebinding a port in TIME_WAIT), which Windows grants by default.
    static_cast<void>(reuse);
    return IsValid();
}

bool CSocket::Bind(std::uint32_t address, std::uint16_t port) {
    // Exclusive use: no other socket may take the port while this one holds it.
    SetIntOption(m_handle, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, 1);
    const sockaddr_in sa = ToSockaddr({address, port});
    return ::bind(Raw(m_handle), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
}

std::uint16_t CSocket::LocalPort() const {
    sockaddr_in sa{};
    int length = sizeof sa;
    if (::getsockname(Raw(m_handle), reinterpret_cast<sockaddr*>(&sa), &length) != 0) {
        return 0;
    }
    return ntohs(sa.sin_port);
}

bool CSocket::Listen(int backlog) {
    return ::listen(Raw(m_handle), backlog) == 0;
}

CSocket CSocket::Accept(SocketAddress* peer) {
    sockaddr_in sa{};
    int length = sizeof sa;
    const SOCKET s = ::accept(Raw(m_handle), reinterpret_cast<sockaddr*>(&sa), &length);
    if (s != INVALID_SOCKET && peer != nullptr) {
        *peer = {sa.sin_addr.s_addr, ntohs(sa.sin_port)};
    }
    return CSocket(static_cast<NativeSocket>(s));
}

ConnectResult CSocket::Connect(const SocketAddress& to) {
    const sockaddr_in sa = ToSockaddr(to);
    if (::connect(Raw(m_handle), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) {
        return ConnectResult::Connected;
    }
    return ::WSAGetLastError() == WSAEWOULDBLOCK ? ConnectResult::InProgress
                                                 : ConnectResult::Failed;
}

SocketError CSocket::PendingError() const {
    int value = 0;
    int length = sizeof value;
    if (::getsockopt(Raw(m_handle), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&value),
                     &length) != 0) {
        return FromWsa(::WSAGetLastError());
    }
    return FromWsa(value);
}

IoResult CSocket::Send(std::span<const std::uint8_t> data) {
    return FromCall(::send(Raw(m_handle), reinterpret_cast<const char*>(data.data()),
                           ClampLength(data.size()), 0));
}

IoResult CSocket::Receive(std::span<std::uint8_t> buffer) {
    return FromCall(::recv(Raw(m_handle), reinterpret_cast<char*>(buffer.data()),
                           ClampLength(buffer.size()), 0));
}

IoResult CSocket::SendTo(std::span<const std::uint8_t> data, const SocketAddress& to) {
    const sockaddr_in sa = ToSockaddr(to);
    return FromCall(::sendto(Raw(m_handle), reinterpret_cast<const char*>(data.data()),
                             ClampLength(data.size()), 0, reinterpret_cast<const sockaddr*>(&sa),
                             sizeof sa));
}

IoResult CSocket::ReceiveFrom(std::span<std::uint8_t> buffer, SocketAddress* from) {
    sockaddr_in sa{};
    int length = sizeof sa;
    const int result =
            ::recvfrom(Raw(m_handle), reinterpret_cast<char*>(buffer.data()),
                       ClampLength(buffer.size()), 0, reinterpret_cast<sockaddr*>(&sa), &length);
    if (result == SOCKET_ERROR) {
        const int error = ::WSAGetLastError();
        if (error == WSAEMSGSIZE) {
            // The buffer holds the datagram's first bytes; the rest is lost.
            if (from != nullptr) {
                *from = {sa.sin_addr.s_addr, ntohs(sa.sin_port)};
            }
            return {buffer.size(), SocketError::MessageTooLong};
        }
        return {0, FromWsa(error)};
    }
    if (from != nullptr) {
        *from = {sa.sin_addr.s_addr, ntohs(sa.sin_port)};
    }
    return {static_cast<std::size_t>(result), SocketError::None};
}

std::size_t CSocket::ReceiveBatch(std::span<Datagram> datagrams, SocketError& error) {
    // Winsock has no call that takes several datagrams; receive them one by one. A blocking
    // socket takes one, so that the call never waits for a second.
    const std::size_t count = m_nonBlocking ? std::min(datagrams.size(), kMaxBatch) : 1;
    std::size_t received = 0;
    error = SocketError::None;
    for (; received < count && received < datagrams.size(); ++received) {
        Datagram& datagram = datagrams[received];
        const IoResult result = ReceiveFrom(datagram.buffer, &datagram.from);
        if (!result.Ok() && result.error != SocketError::MessageTooLong) {
            if (received == 0) {
                error = result.error;
            }
            break;
        }
        datagram.bytes = result.bytes;
        datagram.tooLong = result.error == SocketError::MessageTooLong;
    }
    return received;
}

bool CSocket::ShutdownBoth() {
    return ::shutdown(Raw(m_handle), SD_BOTH) == 0;
}

SocketError CSocket::LastError() {
    return FromWsa(::WSAGetLastError());
}

} // namespace norvane::platform
