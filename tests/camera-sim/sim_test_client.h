// Plain-socket clients for the simulated camera's tests: a TCP text client that reads one reply
// (head, then Content-Length body) and a UDP receiver. They share nothing with the driver's
// protocol code on purpose.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/socket.h"

namespace norvane::sim::test {

struct Reply {
    int status = 0;
    std::string head; // status line and header lines, through the empty line
    std::string body;

    // Header returns the value of the first header line named `name` (case-insensitive).
    [[nodiscard]] std::optional<std::string> Header(const std::string& name) const;
};

class CTextClient {
public:
    bool Connect(std::uint16_t port);
    bool SendText(const std::string& text);
    // ReadReply reads one reply; nullopt on time-out or when the connection closed first.
    std::optional<Reply> ReadReply(int timeoutMs = 5000);
    std::optional<Reply> Exchange(const std::string& request, int timeoutMs = 5000);
    // WaitClosed is true when the server closes the connection within `timeoutMs`.
    bool WaitClosed(int timeoutMs);

    // Count of receive calls that returned data for the last reply.
    [[nodiscard]] int ReadsForLastReply() const { return m_reads; }

private:
    platform::CSocket m_socket;
    std::string m_buffer;
    int m_reads = 0;
};

class CUdpReceiver {
public:
    // Open binds an even port and the one above it on loopback; false when no pair is free.
    bool Open();

    [[nodiscard]] std::uint16_t RtpPort() const { return m_rtpPort; }

    [[nodiscard]] std::uint16_t RtcpPort() const {
        return static_cast<std::uint16_t>(m_rtpPort + 1);
    }

    // ReceiveRtp returns one datagram of the RTP port, nullopt after `timeoutMs`.
    std::optional<std::vector<std::uint8_t>> ReceiveRtp(int timeoutMs,
                                                        platform::SocketAddress* from = nullptr);
    std::optional<std::vector<std::uint8_t>> ReceiveRtcp(int timeoutMs,
                                                         platform::SocketAddress* from = nullptr);
    bool SendRtcp(const std::vector<std::uint8_t>& data, const platform::SocketAddress& to);

private:
    platform::CSocket m_rtp;
    platform::CSocket m_rtcp;
    std::uint16_t m_rtpPort = 0;
};

// Parsed RTP fixed header (RFC 3550 section 5.1) of a test datagram.
struct RtpView {
    bool marker = false;
    std::uint8_t payloadType = 0;
    std::uint16_t sequence = 0;
    std::uint32_t timestamp = 0;
    std::uint32_t ssrc = 0;
    std::vector<std::uint8_t> payload;
};

std::optional<RtpView> ParseRtp(const std::vector<std::uint8_t>& datagram);

// UniqueTempPath returns a path in the test temporary directory that no other test process uses
// (test programs of several build trees may run at once).
std::string UniqueTempPath(const std::string& name);

// Rtsp builds an RTSP request with the given extra header lines (each ending in CR LF).
std::string Rtsp(const std::string& method, const std::string& url, int cseq,
                 const std::string& extra = "");

// DigestResponse computes an RFC 2617 Digest response without qop (test-side MD5).
std::string DigestResponse(const std::string& user, const std::string& realm,
                           const std::string& password, const std::string& method,
                           const std::string& uri, const std::string& nonce);

// ChallengeParam reads one parameter (realm, nonce, ...) of a WWW-Authenticate value.
std::string ChallengeParam(const std::string& challenge, const std::string& name);

} // namespace norvane::sim::test

namespace norvane::sim::test {

// RebuildNals rebuilds NAL units from H.264 RTP payloads (RFC 6184 sections 5.6 to 5.8): single
// units, STAP-A and FU-A. Written apart from the simulator's packetizer.
std::vector<std::vector<std::uint8_t>>
RebuildNals(const std::vector<std::vector<std::uint8_t>>& payloads);

} // namespace norvane::sim::test
