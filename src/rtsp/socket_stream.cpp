#include "rtsp/socket_stream.h"

#include <array>

#include "platform/system.h"
#include "platform/wait.h"

namespace norvane {
namespace {

using platform::SocketError;
using platform::WaitFor;
using platform::WaitResult;

constexpr std::size_t kDiscardSize = 4096;

StreamStatus FromWait(WaitResult wait) {
    switch (wait) {
    case WaitResult::Ready:
        return StreamStatus::Ok;
    case WaitResult::Stopped:
        return StreamStatus::Stopped;
    case WaitResult::Timeout:
        return StreamStatus::Timeout;
    case WaitResult::Error:
        break;
    }
    return StreamStatus::Failed;
}

bool IsRetry(SocketError error) {
    return error == SocketError::WouldBlock || error == SocketError::Interrupted;
}

} // namespace

bool CSocketStream::Connect(const std::string& host, std::uint16_t port,
                            std::uint32_t receiveBufferSize, int timeoutMs,
                            platform::CEventHandle* stop) {
    m_socket = platform::CSocket::CreateTcp();
    if (!m_socket.IsValid()) {
        return false;
    }
    const auto fail = [this]() {
        m_socket.Close();
        return false;
    };
    const std::uint32_t address = platform::ResolveIPv4Stoppable(host, stop, timeoutMs);
    // The socket stays non-blocking: every send and receive waits through WaitSocket, so that a
    // stop ends it and no single call can block beyond its time-out.
    if (!m_socket.SetReceiveBufferSize(receiveBufferSize) || address == 0 ||
        !m_socket.SetNonBlocking(true)) {
        return fail();
    }
    switch (m_socket.Connect({address, port})) {
    case platform::ConnectResult::Connected:
        return true;
    case platform::ConnectResult::InProgress:
        if (timeoutMs <= 0 ||
            platform::WaitSocket(m_socket, WaitFor::Write, stop, timeoutMs) != WaitResult::Ready ||
            m_socket.PendingError() != SocketError::None) {
            return fail();
        }
        return true;
    case platform::ConnectResult::Failed:
        break;
    }
    return fail();
}

void CSocketStream::Close() {
    m_socket.Close();
}

StreamStatus CSocketStream::Send(std::span<const std::uint8_t> data, int timeoutMs,
                                 platform::CEventHandle* stop) {
    const CDeadline deadline(static_cast<std::uint64_t>(std::max(timeoutMs, 0)));
    while (!data.empty()) {
        const platform::IoResult result = m_socket.Send(data);
        if (result.Ok()) {
            data = data.subspan(result.bytes);
            continue;
        }
        if (!IsRetry(result.error)) {
            return StreamStatus::Failed;
        }
        const StreamStatus wait = FromWait(
                platform::WaitSocket(m_socket, WaitFor::Write, stop, deadline.RemainingMs()));
        if (wait != StreamStatus::Ok) {
            return wait;
        }
    }
    return StreamStatus::Ok;
}

StreamResult CSocketStream::Receive(std::span<std::uint8_t> buffer, int timeoutMs,
                                    platform::CEventHandle* stop) {
    const CDeadline deadline(static_cast<std::uint64_t>(std::max(timeoutMs, 0)));
    for (;;) {
        const StreamStatus wait = FromWait(
                platform::WaitSocket(m_socket, WaitFor::Read, stop, deadline.RemainingMs()));
        if (wait != StreamStatus::Ok) {
            return {wait, 0};
        }
        const platform::IoResult result = m_socket.Receive(buffer);
        if (IsRetry(result.error)) {
            continue;
        }
        if (!result.Ok()) {
            return {StreamStatus::Failed, 0};
        }
        if (result.bytes == 0) {
            return {StreamStatus::Closed, 0};
        }
        return {StreamStatus::Ok, result.bytes};
    }
}

bool CSocketStream::DiscardPending() {
    std::array<std::uint8_t, kDiscardSize> buffer{};
    for (;;) {
        const platform::IoResult result = m_socket.Receive(buffer);
        if (result.error == SocketError::WouldBlock) {
            return true;
        }
        if (!result.Ok() || result.bytes == 0) {
            return false;
        }
    }
}

} // namespace norvane
