// RTSPSessionState: what the RTSP client remembers from one reply to the next: the CSeq counter,
// the session and its time-out, the control URLs and H.264 parameter sets of the description, the
// challenge chosen from the last reply that offered one, and how often its nonce has been answered.
// The client owns it; replies come in through Apply.
//
// Threads: a plain value of its client, used on the client's thread.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "rtsp/rtsp_auth.h"
#include "rtsp/rtsp_response_parser.h"
#include "rtsp/rtsp_types.h"

namespace norvane {

struct RTSPSessionState {
    std::uint32_t cseq = 0;           // advanced per request, overwritten by each reply's CSeq
    std::int32_t statusCode = 0;      // of the last reply whose status line could be read
    std::string session;              // session id exactly as the camera wrote it
    std::uint32_t sessionTimeout = 0; // seconds; 0 until a Session header names one
    std::string videoControl;
    std::string audioControl;
    std::string metadataControl;
    RTSPChallenge challenge;      // the strongest answerable challenge of the last reply with one
    std::string countedNonce;     // the nonce whose uses nonceCount counts
    std::uint32_t nonceCount = 0; // answers sent with countedNonce (RFC 7616, section 3.4: nc)
    std::string cnonce;           // the client nonce used with countedNonce
    RTSPTransport transport;      // of the last SETUP answer that named one
    std::string contentBase;      // base URL of the description's relative controls; empty: the URL
    std::string location;         // the Location of the last reply (a redirection's target)
    std::vector<std::uint8_t> sps;
    std::vector<std::uint8_t> pps;
    H265Description h265;
    // The interleaved channels of RTP and RTCP: those SETUP asked for unless the camera chose
    // others.
    std::array<std::uint8_t, 2> interleavedChannels{0, 1};
    // The sequence number of the video stream's first packet after PLAY, as its RTP-Info said.
    std::optional<std::uint16_t> firstVideoSequence;

    // Apply takes what `reply` carried, accepted or not: each item it set replaces the one kept,
    // and its H.264 parameter sets are appended to those kept.
    void Apply(const RTSPReply& reply);

    // VideoSequence picks the video stream's first sequence number out of an RTP-Info header.
    [[nodiscard]] std::optional<std::uint16_t>
    VideoSequence(const std::vector<RtpInfoEntry>& entries) const;

    // UseNonce counts one more answer to `nonce` and returns the count with the client nonce: the
    // same nonce again counts on, a new one starts at 1 with a client nonce from `newCnonce`.
    DigestNonceUse UseNonce(const std::string& nonce,
                            const std::function<std::string()>& newCnonce);
};

} // namespace norvane
