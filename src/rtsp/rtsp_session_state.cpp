#include "rtsp/rtsp_session_state.h"

namespace norvane {
namespace {

template <class T>
void TakeIfSet(const std::optional<T>& value, T& target) {
    if (value) {
        target = *value;
    }
}

} // namespace

void RTSPSessionState::Apply(const RTSPReply& reply) {
    TakeIfSet(reply.statusCode, statusCode);
    TakeIfSet(reply.cseq, cseq);
    TakeIfSet(reply.session, session);
    TakeIfSet(reply.sessionTimeout, sessionTimeout);
    TakeIfSet(reply.challenge, challenge);
    TakeIfSet(reply.transport, transport);
    if (!reply.contentBase.empty()) {
        contentBase = reply.contentBase;
    }
    location = reply.location;
    TakeIfSet(reply.interleavedChannels, interleavedChannels);
    const SessionDescription& description = reply.description;
    TakeIfSet(description.videoControl, videoControl);
    if (!reply.rtpInfo.empty()) {
        firstVideoSequence = VideoSequence(reply.rtpInfo);
    }
    TakeIfSet(description.audioControl, audioControl);
    TakeIfSet(description.metadataControl, metadataControl);
    sps.insert(sps.end(), description.sps.begin(), description.sps.end());
    pps.insert(pps.end(), description.pps.begin(), description.pps.end());
    TakeIfSet(description.h265, h265);
}

std::optional<std::uint16_t>
RTSPSessionState::VideoSequence(const std::vector<RtpInfoEntry>& entries) const {
    // The video stream's entry names its control URL, in full or ending with a relative one;
    // a lone entry is the stream's whatever it names.
    for (const RtpInfoEntry& entry : entries) {
        if (!videoControl.empty() && entry.url.ends_with(videoControl)) {
            return entry.sequence;
        }
    }
    return entries.size() == 1 ? entries.front().sequence : std::nullopt;
}

DigestNonceUse RTSPSessionState::UseNonce(const std::string& nonce,
                                          const std::function<std::string()>& newCnonce) {
    if (nonce != countedNonce || nonceCount == UINT32_MAX) {
        countedNonce = nonce;
        nonceCount = 0;
        cnonce = newCnonce();
    }
    ++nonceCount;
    return {nonceCount, cnonce};
}

} // namespace norvane
