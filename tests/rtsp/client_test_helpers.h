// Settings and canned replies shared by the RTSP client tests.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "rtsp/rtsp_auth.h"
#include "rtsp/rtsp_types.h"
#include "text/md5.h"

namespace norvane::test {

inline RTSPSessionSettings CameraSettings(std::uint16_t port = 554) {
    RTSPSessionSettings settings;
    settings.address = "127.0.0.1";
    settings.port = port;
    settings.path = "vtl_media/main";
    settings.userName = "admin";
    settings.password = "secret";
    settings.rtpPort = 3556;
    settings.rtcpPort = 3557;
    return settings;
}

inline std::string Ok(unsigned cseq, const std::string& extra = {}) {
    return "RTSP/1.0 200 OK\r\nCSeq: " + std::to_string(cseq) + "\r\n" + extra + "\r\n";
}

inline std::string SdpReply(unsigned cseq) {
    const std::string sdp =
            "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=Session\r\nt=0 0\r\n"
            "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n"
            "a=fmtp:96 packetization-mode=1;sprop-parameter-sets=Z0IAHpWoLQSZ,aM4xUg==\r\n"
            "a=control:trackID=1\r\n";
    return "RTSP/1.0 200 OK\r\nCSeq: " + std::to_string(cseq) +
           "\r\nContent-Type: application/sdp\r\nContent-Length: " + std::to_string(sdp.size()) +
           "\r\n\r\n" + sdp;
}

inline std::string DigestChallenge(unsigned cseq, const std::string& nonce) {
    return "RTSP/1.0 401 Unauthorized\r\nCSeq: " + std::to_string(cseq) +
           "\r\nWWW-Authenticate: Basic realm=\"Surveillance Server\"\r\n"
           "WWW-Authenticate: Digest realm=\"Surveillance Server\", nonce=\"" +
           nonce + "\", opaque=\"xyz\"\r\n\r\n";
}

inline std::string ExpectedDigestResponse(const std::string& method, const std::string& uri,
                                          const std::string& nonce) {
    const std::string ha1 = Md5Hex("admin:Surveillance Server:secret");
    const std::string ha2 = Md5Hex(method + ":" + uri);
    return Md5Hex(ha1 + ":" + nonce + ":" + ha2);
}

inline std::uint64_t ElapsedMs(std::chrono::steady_clock::time_point start) {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now() - start)
                                              .count());
}

} // namespace norvane::test
