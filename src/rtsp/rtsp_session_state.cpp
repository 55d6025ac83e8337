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
    TakeIfSet(description.audioControl, audioControl);
    TakeIfSet(description.metadataControl, metadataControl);
    sps.insert(sps.end(), description.sps.begin(), description.sps.end());
    pps.insert(pps.end(), description.pps.begin(), description.pps.end());
    TakeIfSet(description.h265, h265);
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
