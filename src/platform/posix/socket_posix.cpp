// POSIX backend of CSocket.
#include <algorithm>
#include <array>
#include <cerrno>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/socket.h"

namespace norvane::platform {
namespace {

SocketError FromErrno(int error) {
    switch (error) {
    case 0:
        return SocketError::None;
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EINPROGRESS:
        return SocketError::WouldBlock;
    case ETIMEDOUT:
        return SocketError::TimedOut;
    case EMSGSIZE:
        return SocketError::MessageTooLong;
    case EFAULT:
        return SocketError::BadAddress;
    case ENETDOWN:
        return SocketError::NetworkDown;
    case EINVAL:
    case EBADF:
    case ENOTSOCK:
        return SocketError::InvalidArgument;
    case EADDRINUSE:
        return SocketError::AddressInUse;
    case ECONNREFUSED:
        return SocketError::ConnectionRefused;
    case ECONNRESET:
    case EPIPE:
        return SocketError::ConnectionReset;
    case EINTR:
        return SocketError::Interrupted;
    case ENOTCONN:
        return SocketError::NotConnected;
    default:
        return SocketError::Other;
    }
}

sockaddr_in ToSockaddr(const SocketAddress& address) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = address.address;
    sa.sin_port = htons(address.port);
    return sa;
}

bool SetIntOption(int fd, int level, int name, int value) {
    return ::setsockopt(fd, level, name, &value, sizeof value) == 0;
}

bool SetTimeoutOption(int fd, int name, std::uint32_t milliseconds) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(milliseconds / 1000);
    tv.tv_usec = static_cast<suseconds_t>((milliseconds % 1000) * 1000);
    return ::setsockopt(fd, SOL_SOCKET, name, &tv, sizeof tv) == 0;
}

// ReceiveError maps a failed receive: on a blocking socket EAGAIN means that the receive
// time-out expired.
SocketError ReceiveError(bool nonBlocking, int error) {
    if ((error == EAGAIN || error == EWOULDBLOCK) && !nonBlocking) {
        return SocketError::TimedOut;
    }
    return FromErrno(error);
}

IoResult FromSyscall(ssize_t result) {
    if (result < 0) {
        return {0, FromErrno(errno)};
    }
    return {static_cast<std::size_t>(result), SocketError::None};
}

} // namespace

std::uint32_t LoopbackAddress() {
    return htonl(INADDR_LOOPBACK);
}

CSocket CSocket::CreateUdp() {
    return CSocket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
}

CSocket CSocket::CreateTcp() {
    return CSocket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
}

bool CSocket::IsValid() const {
    return m_handle >= 0;
}

void CSocket::Close() {
    if (m_handle >= 0) {
        ::close(m_handle);
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
    socklen_t length = sizeof value;
    if (::getsockopt(m_handle, SOL_SOCKET, SO_RCVBUF, &value, &length) != 0 || value < 0) {
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
    const int flags = ::fcntl(m_handle, F_GETFL, 0);
    if (flags < 0) {
        return false;
    }
    const int wanted = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    if (::fcntl(m_handle, F_SETFL, wanted) != 0) {
        return false;
    }
    m_nonBlocking = nonBlocking;
    return true;
}

bool CSocket::SetReuseAddress(bool reuse) {
    return SetIntOption(m_handle, SOL_SOCKET, SO_REUSEADDR, reuse ? 1 : 0);
}

bool CSocket::Bind(std::uint32_t address, std::uint16_t port) {
    const sockaddr_in sa = ToSockaddr({address, port});
    return ::bind(m_handle, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
}

std::uint16_t CSocket::LocalPort() const {
    sockaddr_in sa{};
    socklen_t length = sizeof sa;
    if (::getsockname(m_handle, reinterpret_cast<sockaddr*>(&sa), &length) != 0) {
        return 0;
    }
    return ntohs(sa.sin_port);
}

bool CSocket::Listen(int backlog) {
    return ::listen(m_handle, backlog) == 0;
}

CSocket CSocket::Accept(SocketAddress* peer) {
    sockaddr_in sa{};
    socklen_t length = sizeof sa;
    const int fd = ::accept4(m_handle, reinterpret_cast<sockaddr*>(&sa), &length, SOCK_CLOEXEC);
    if (fd >= 0 && peer != nullptr) {
        *peer = {sa.sin_addr.s_addr, ntohs(sa.sin_port)};
    }
    return CSocket(fd);
}

ConnectResult CSocket::Connect(const SocketAddress& to) {
    const sockaddr_in sa = ToSockaddr(to);
    if (::connect(m_handle, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) {
        return ConnectResult::Connected;
    }
    return errno == EINPROGRESS ? ConnectResult::InProgress : ConnectResult::Failed;
}

SocketError CSocket::PendingError() const {
    int value = 0;
    socklen_t length = sizeof value;
    if (::getsockopt(m_handle, SOL_SOCKET, SO_ERROR, &value, &length) != 0) {
        return FromErrno(errno);
    }
    return FromErrno(value);
}

IoResult CSocket::Send(std::span<const std::uint8_t> data) {
    return FromSyscall(::send(m_handle, data.data(), data.size(), MSG_NOSIGNAL));
}

IoResult CSocket::Receive(std::span<std::uint8_t> buffer) {
    const ssize_t result = ::recv(m_handle, buffer.data(), buffer.size(), 0);
    if (result < 0) {
        return {0, ReceiveError(m_nonBlocking, errno)};
    }
    return {static_cast<std::size_t>(result), SocketError::None};
}

IoResult CSocket::SendTo(std::span<const std::uint8_t> data, const SocketAddress& to) {
    const sockaddr_in sa = ToSockaddr(to);
    return FromSyscall(::sendto(m_handle, data.data(), data.size(), MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&sa), sizeof sa));
}

IoResult CSocket::ReceiveFrom(std::span<std::uint8_t> buffer, SocketAddress* from) {
    sockaddr_in sa{};
    socklen_t length = sizeof sa;
    // MSG_TRUNC makes the call report the datagram's real length, so an oversized one is seen.
    const ssize_t result = ::recvfrom(m_handle, buffer.data(), buffer.size(), MSG_TRUNC,
                                      reinterpret_cast<sockaddr*>(&sa), &length);
    if (result < 0) {
        return {0, ReceiveError(m_nonBlocking, errno)};
    }
    if (from != nullptr) {
        *from = {sa.sin_addr.s_addr, ntohs(sa.sin_port)};
    }
    if (static_cast<std::size_t>(result) > buffer.size()) {
        return {buffer.size(), SocketError::MessageTooLong};
    }
    return {static_cast<std::size_t>(result), SocketError::None};
}

std::size_t CSocket::ReceiveBatch(std::span<Datagram> datagrams, SocketError& error) {
    const std::size_t count = std::min(datagrams.size(), kMaxBatch);
    std::array<mmsghdr, kMaxBatch> messages{};
    std::array<iovec, kMaxBatch> vectors{};
    std::array<sockaddr_in, kMaxBatch> senders{};
    for (std::size_t i = 0; i < count; ++i) {
        vectors[i] = {datagrams[i].buffer.data(), datagrams[i].buffer.size()};
        messages[i].msg_hdr.msg_name = &senders[i];
        messages[i].msg_hdr.msg_namelen = sizeof senders[i];
        messages[i].msg_hdr.msg_iov = &vectors[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    // MSG_WAITFORONE: only the first datagram is waited for (on a blocking socket).
    const int received = ::recvmmsg(m_handle, messages.data(), static_cast<unsigned>(count),
                                    MSG_WAITFORONE, nullptr);
    if (received <= 0) {
        error = received == 0 ? SocketError::WouldBlock : ReceiveError(m_nonBlocking, errno);
        return 0;
    }
    for (std::size_t i = 0; i < static_cast<std::size_t>(received); ++i) {
        Datagram& datagram = datagrams[i];
        datagram.tooLong = (messages[i].msg_hdr.msg_flags & MSG_TRUNC) != 0;
        datagram.bytes = std::min<std::size_t>(messages[i].msg_len, datagram.buffer.size());
        datagram.from = {senders[i].sin_addr.s_addr, ntohs(senders[i].sin_port)};
    }
    error = SocketError::None;
    return static_cast<std::size_t>(received);
}

bool CSocket::ShutdownBoth() {
    return ::shutdown(m_handle, SHUT_RDWR) == 0;
}

SocketError CSocket::LastError() {
    return FromErrno(errno);
}

} // namespace norvane::platform
