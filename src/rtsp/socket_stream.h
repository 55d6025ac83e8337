// CSocketStream: IByteStream over a non-blocking TCP socket. Every wait polls the socket and the
// caller's stop event together, so a stop ends a connect, send or receive at once.
//
// Threads: as IByteStream. Owned by the RTSP client that uses it.
#pragma once

#include "platform/socket.h"
#include "rtsp/byte_stream.h"

namespace norvane {

class CSocketStream final : public IByteStream {
public:
    [[nodiscard]] bool Connect(const std::string& host, std::uint16_t port,
                               std::uint32_t receiveBufferSize, int timeoutMs,
                               platform::CEventHandle* stop) override;
    void Close() override;
    [[nodiscard]] StreamStatus Send(std::span<const std::uint8_t> data, int timeoutMs,
                                    platform::CEventHandle* stop) override;
    [[nodiscard]] StreamResult Receive(std::span<std::uint8_t> buffer, int timeoutMs,
                                       platform::CEventHandle* stop) override;
    [[nodiscard]] bool DiscardPending() override;

private:
    platform::CSocket m_socket;
};

} // namespace norvane
