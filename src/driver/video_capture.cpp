#include "driver/video_capture.h"

#include "core/boundary.h"

namespace norvane {

CIPVideoCapture::CIPVideoCapture(ICustomCreator* creator, std::uint32_t channelCount)
    : m_creator(creator)
    , m_channels(channelCount) {}

CIPVideoCapture::~CIPVideoCapture() {
    for (std::uint32_t index = 0; index < m_channels.size(); ++index) {
        if (auto channel = TakeChannel(index)) {
            channel->Stop();
        }
    }
}

uint32_t CIPVideoCapture::GetChannelCount() {
    CSpinWaitLockGuard guard(m_lock);
    return static_cast<uint32_t>(m_channels.size());
}

std::unique_ptr<ICameraChannel> CIPVideoCapture::TakeChannel(uint32_t index) {
    CSpinWaitLockGuard guard(m_lock);
    if (index >= m_channels.size()) {
        return nullptr;
    }
    return std::move(m_channels[index]);
}

ICameraChannel* CIPVideoCapture::PeekChannel(uint32_t index) {
    CSpinWaitLockGuard guard(m_lock);
    return index < m_channels.size() ? m_channels[index].get() : nullptr;
}

bool CIPVideoCapture::OpenChannel(uint32_t index, IFrameSink* sink, IChannelParams* params) {
    return GuardHostCall(false, [&] {
        if (index >= GetChannelCount()) {
            return false;
        }
        CloseChannel(index);
        std::unique_ptr<ICameraChannel> channel(m_creator->CreateChannel(index, sink));
        if (!channel) {
            return true; // the driver serves no channel for this stream type
        }
        ChannelStartRecord record;
        if (params != nullptr) {
            if (IRate* rate = params->GetRate()) {
                record.frameInterval = rate->GetFrameInterval();
                record.quality = rate->GetQuality();
            }
            IVideoFormat* format = params->GetVideoFormat();
            if (IFrameSize* size = format != nullptr ? format->GetFrameSize() : nullptr) {
                record.width = size->GetWidth();
                record.height = size->GetHeight();
            }
        }
        const bool ok = channel->Start(&record);
        CSpinWaitLockGuard guard(m_lock);
        m_channels[index] = std::move(channel); // also when the start failed: Close deletes it
        return ok;
    });
}

bool CIPVideoCapture::CloseChannel(uint32_t index) {
    return GuardHostCall(false, [&] {
        auto channel = TakeChannel(index);
        if (!channel) {
            return false;
        }
        channel->Stop();
        return true;
    });
}

bool CIPVideoCapture::ChangeChannelFormat(uint32_t index, IFrameSize* size,
                                          uint32_t frameInterval) {
    return GuardHostCall(false, [&] {
        ICameraChannel* channel = PeekChannel(index);
        if (channel == nullptr) {
            return false;
        }
        ChannelStartRecord record;
        record.frameInterval = frameInterval;
        if (size != nullptr) {
            record.width = size->GetWidth();
            record.height = size->GetHeight();
        }
        return channel->Restart(&record);
    });
}

bool CIPVideoCapture::GetChannelStatus(uint32_t index, int32_t* state, int32_t* reserved,
                                       char* text, uint32_t textSize) {
    if (reserved != nullptr) {
        *reserved = 0;
    }
    if (textSize > 0 && text != nullptr) {
        text[0] = '\0';
    }
    ICameraChannel* channel = PeekChannel(index);
    if (channel == nullptr) {
        return false;
    }
    const std::int32_t current = channel->GetState();
    if (state != nullptr) {
        // The host knows two states: streaming, or not.
        *state = current == kStateStopped ? kStateSignalLost : current;
    }
    return true;
}

bool CIPVideoCapture::GetChannelReception(uint32_t index, RtpReceptionCounters& counts) {
    ICameraChannel* channel = PeekChannel(index);
    return channel != nullptr && channel->GetReception(counts);
}

} // namespace norvane
