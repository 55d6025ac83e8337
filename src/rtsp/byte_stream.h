// IByteStream: the connection the RTSP client talks through: connect, send, receive with a wait,
// close. The client frames requests and replies on top of it and never sees a socket, so the
// framing can be tested on an in-memory stream, and interleaved data can later share it.
// CSocketStream is the TCP implementation.
//
// Threads: a stream is used by one thread at a time (its client's). The stop event passed to a
// call may be set from any thread and ends that call's wait at once.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "platform/clock.h"

namespace norvane {

namespace platform {
class CEventHandle;
}

enum class StreamStatus {
    Ok,      // bytes moved
    Timeout, // the time allowed passed first
    Stopped, // the stop event was set
    Closed,  // the peer closed the stream
    Failed,  // any other error (reset, refused, not connected)
};

struct StreamResult {
    StreamStatus status = StreamStatus::Failed;
    std::size_t bytes = 0; // with Ok: how many bytes moved (at least one)
};

class IByteStream {
public:
    virtual ~IByteStream() = default;

    // Connect opens the stream to `host`:`port` with a receive buffer of `receiveBufferSize`
    // bytes. A connect that does not complete at once may take `timeoutMs`, and fails at once
    // when that is 0. `stop` (may be null) ends the wait.
    [[nodiscard]] virtual bool Connect(const std::string& host, std::uint16_t port,
                                       std::uint32_t receiveBufferSize, int timeoutMs,
                                       platform::CEventHandle* stop) = 0;

    // Close ends the connection; a closed stream can be connected again.
    virtual void Close() = 0;

    // Send writes all of `data` within `timeoutMs`: Ok, Timeout, Stopped or Failed.
    [[nodiscard]] virtual StreamStatus Send(std::span<const std::uint8_t> data, int timeoutMs,
                                            platform::CEventHandle* stop) = 0;

    // Receive waits up to `timeoutMs` for bytes and stores those that have arrived, as many as
    // fit, in `buffer`. A set stop event wins over bytes that are ready.
    [[nodiscard]] virtual StreamResult Receive(std::span<std::uint8_t> buffer, int timeoutMs,
                                               platform::CEventHandle* stop) = 0;

    // DiscardPending drops the bytes that have arrived and were not read, without waiting. False
    // when the peer has closed the stream or it failed.
    [[nodiscard]] virtual bool DiscardPending() = 0;
};

// CDeadline turns a time budget into the remaining milliseconds for each wait.
class CDeadline {
public:
    explicit CDeadline(std::uint64_t budgetMs) : m_end(platform::MonotonicMs() + budgetMs) {}

    [[nodiscard]] int RemainingMs() const {
        const std::uint64_t now = platform::MonotonicMs();
        return now >= m_end ? 0
                            : static_cast<int>(std::min<std::uint64_t>(m_end - now, 0x7fffffff));
    }

private:
    std::uint64_t m_end;
};

} // namespace norvane
