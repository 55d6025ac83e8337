#include "sim_test_client.h"

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <random>

#include <gtest/gtest.h>

#include "platform/wait.h"
#include "sim_text.h"

namespace norvane::sim::test {

std::optional<std::string> Reply::Header(const std::string& name) const {
    std::size_t at = head.find("\r\n");
    while (at != std::string::npos && at + 2 < head.size()) {
        const std::size_t end = head.find("\r\n", at + 2);
        const std::string line = head.substr(at + 2, end - at - 2);
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos && EqualsNoCase(line.substr(0, colon), name)) {
            return std::string(TrimBlanks(line.substr(colon + 1)));
        }
        at = end;
    }
    return std::nullopt;
}

bool CTextClient::Connect(std::uint16_t port) {
    m_socket = platform::CSocket::CreateTcp();
    return m_socket.IsValid() && m_socket.Connect({platform::LoopbackAddress(), port}) ==
                                         platform::ConnectResult::Connected;
}

bool CTextClient::SendText(const std::string& text) {
    const auto result =
            m_socket.Send({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    return result.Ok() && result.bytes == text.size();
}

std::optional<Reply> CTextClient::ReadReply(int timeoutMs) {
    m_reads = 0;
    Reply reply;
    std::size_t headEnd = 0;
    std::size_t bodyLength = 0;
    while (true) {
        if (headEnd == 0) {
            const std::size_t at = m_buffer.find("\r\n\r\n");
            if (at != std::string::npos) {
                headEnd = at + 4;
                reply.head = m_buffer.substr(0, headEnd);
                const std::size_t blank = reply.head.find(' ');
                reply.status =
                        blank == std::string::npos ? 0 : std::atoi(reply.head.c_str() + blank + 1);
                const auto length = reply.Header("Content-Length");
                bodyLength = length ? static_cast<std::size_t>(std::atol(length->c_str())) : 0;
            }
        }
        if (headEnd != 0 && m_buffer.size() >= headEnd + bodyLength) {
            reply.body = m_buffer.substr(headEnd, bodyLength);
            m_buffer.erase(0, headEnd + bodyLength);
            return reply;
        }
        if (platform::WaitSocket(m_socket, platform::WaitFor::Read, nullptr, timeoutMs) !=
            platform::WaitResult::Ready) {
            return std::nullopt;
        }
        std::uint8_t chunk[4096];
        const auto result = m_socket.Receive(chunk);
        if (!result.Ok() || result.bytes == 0) {
            return std::nullopt;
        }
        ++m_reads;
        m_buffer.append(reinterpret_cast<const char*>(chunk), result.bytes);
    }
}

std::optional<Reply> CTextClient::Exchange(const std::string& request, int timeoutMs) {
    if (!SendText(request)) {
        return std::nullopt;
    }
    return ReadReply(timeoutMs);
}

bool CTextClient::WaitClosed(int timeoutMs) {
    if (platform::WaitSocket(m_socket, platform::WaitFor::Read, nullptr, timeoutMs) !=
        platform::WaitResult::Ready) {
        return false;
    }
    std::uint8_t chunk[256];
    const auto result = m_socket.Receive(chunk);
    return !result.Ok() || result.bytes == 0;
}

bool CUdpReceiver::Open() {
    for (int attempt = 0; attempt < 32; ++attempt) {
        platform::CSocket rtp = platform::CSocket::CreateUdp();
        if (!rtp.IsValid() || !rtp.Bind(platform::LoopbackAddress(), 0)) {
            return false;
        }
        const std::uint16_t port = rtp.LocalPort();
        if (port % 2 != 0 || port >= 65534) {
            continue;
        }
        platform::CSocket rtcp = platform::CSocket::CreateUdp();
        if (!rtcp.IsValid() ||
            !rtcp.Bind(platform::LoopbackAddress(), static_cast<std::uint16_t>(port + 1))) {
            continue;
        }
        (void)rtp.SetReceiveBufferSize(4 * 1024 * 1024);
        m_rtp = std::move(rtp);
        m_rtcp = std::move(rtcp);
        m_rtpPort = port;
        return true;
    }
    return false;
}

namespace {

std::optional<std::vector<std::uint8_t>> ReceiveOne(platform::CSocket& socket, int timeoutMs,
                                                    platform::SocketAddress* from) {
    if (platform::WaitSocket(socket, platform::WaitFor::Read, nullptr, timeoutMs) !=
        platform::WaitResult::Ready) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> buffer(65536);
    const auto result = socket.ReceiveFrom(buffer, from);
    if (!result.Ok()) {
        return std::nullopt;
    }
    buffer.resize(result.bytes);
    return buffer;
}

} // namespace

std::optional<std::vector<std::uint8_t>> CUdpReceiver::ReceiveRtp(int timeoutMs,
                                                                  platform::SocketAddress* from) {
    return ReceiveOne(m_rtp, timeoutMs, from);
}

std::optional<std::vector<std::uint8_t>> CUdpReceiver::ReceiveRtcp(int timeoutMs,
                                                                   platform::SocketAddress* from) {
    return ReceiveOne(m_rtcp, timeoutMs, from);
}

bool CUdpReceiver::SendRtcp(const std::vector<std::uint8_t>& data,
                            const platform::SocketAddress& to) {
    return m_rtcp.SendTo(data, to).Ok();
}

std::optional<RtpView> ParseRtp(const std::vector<std::uint8_t>& datagram) {
    if (datagram.size() < 12 || (datagram[0] >> 6) != 2 || (datagram[0] & 0x3F) != 0) {
        return std::nullopt;
    }
    RtpView view;
    view.marker = (datagram[1] & 0x80) != 0;
    view.payloadType = datagram[1] & 0x7F;
    view.sequence = static_cast<std::uint16_t>((datagram[2] << 8) | datagram[3]);
    view.timestamp = (static_cast<std::uint32_t>(datagram[4]) << 24) |
                     (static_cast<std::uint32_t>(datagram[5]) << 16) |
                     (static_cast<std::uint32_t>(datagram[6]) << 8) | datagram[7];
    view.ssrc = (static_cast<std::uint32_t>(datagram[8]) << 24) |
                (static_cast<std::uint32_t>(datagram[9]) << 16) |
                (static_cast<std::uint32_t>(datagram[10]) << 8) | datagram[11];
    view.payload.assign(datagram.begin() + 12, datagram.end());
    return view;
}

namespace {

// Removes the files handed out by UniqueTempPath when the test program ends.
class CTempFiles : public ::testing::Environment {
public:
    void TearDown() override {
        std::lock_guard guard(m_lock);
        for (const auto& path : m_paths) {
            std::error_code ignored;
            std::filesystem::remove(path, ignored);
        }
        m_paths.clear();
    }

    void Add(const std::string& path) {
        std::lock_guard guard(m_lock);
        m_paths.push_back(path);
    }

private:
    std::mutex m_lock;
    std::vector<std::string> m_paths;
};

CTempFiles* const g_tempFiles =
        static_cast<CTempFiles*>(::testing::AddGlobalTestEnvironment(new CTempFiles));

} // namespace

std::string UniqueTempPath(const std::string& name) {
    static const std::string token = [] {
        std::random_device device;
        return std::to_string(device()) + std::to_string(device());
    }();
    std::string path = ::testing::TempDir() + "vantrel_sim_" + token + "_" + name;
    g_tempFiles->Add(path);
    return path;
}

std::string Rtsp(const std::string& method, const std::string& url, int cseq,
                 const std::string& extra) {
    return method + " " + url + " RTSP/1.0\r\nCSeq: " + std::to_string(cseq) + "\r\n" + extra +
           "User-Agent: SimTest\r\n\r\n";
}

std::string DigestResponse(const std::string& user, const std::string& realm,
                           const std::string& password, const std::string& method,
                           const std::string& uri, const std::string& nonce) {
    const std::string ha1 = Md5Hex(user + ":" + realm + ":" + password);
    const std::string ha2 = Md5Hex(method + ":" + uri);
    return Md5Hex(ha1 + ":" + nonce + ":" + ha2);
}

std::string ChallengeParam(const std::string& challenge, const std::string& name) {
    const std::size_t at = challenge.find(name + "=\"");
    if (at == std::string::npos) {
        return {};
    }
    const std::size_t start = at + name.size() + 2;
    return challenge.substr(start, challenge.find('"', start) - start);
}

} // namespace norvane::sim::test

namespace norvane::sim::test {

std::vector<std::vector<std::uint8_t>>
RebuildNals(const std::vector<std::vector<std::uint8_t>>& payloads) {
    std::vector<std::vector<std::uint8_t>> nals;
    std::vector<std::uint8_t> fragment;
    for (const auto& p : payloads) {
        if (p.empty()) {
            continue;
        }
        const int type = p[0] & 0x1F;
        if (type == 24) {
            for (std::size_t at = 1; at + 2 <= p.size();) {
                const std::size_t size = (static_cast<std::size_t>(p[at]) << 8) | p[at + 1];
                if (at + 2 + size > p.size()) {
                    break;
                }
                nals.emplace_back(p.begin() + static_cast<std::ptrdiff_t>(at + 2),
                                  p.begin() + static_cast<std::ptrdiff_t>(at + 2 + size));
                at += 2 + size;
            }
        } else if (type == 28 && p.size() >= 2) {
            if ((p[1] & 0x80) != 0) {
                fragment = {static_cast<std::uint8_t>((p[0] & 0xE0) | (p[1] & 0x1F))};
            }
            fragment.insert(fragment.end(), p.begin() + 2, p.end());
            if ((p[1] & 0x40) != 0) {
                nals.push_back(fragment);
            }
        } else {
            nals.push_back(p);
        }
    }
    return nals;
}

} // namespace norvane::sim::test
