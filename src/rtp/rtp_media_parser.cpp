#include "rtp/rtp_media_parser.h"

#include <algorithm>

#include "core/driver_interfaces.h"
#include "norvane/host.h"

namespace norvane {
namespace {

constexpr const char* kCheckBufferSizeName = "norvane::CRTPMediaParser::CheckBufferSize";

} // namespace

std::uint32_t ImageSizeCode(std::uint32_t width, std::uint32_t height) {
    if (width < 1024 && std::uint64_t{width} > 2 * std::uint64_t{height}) {
        return 3;
    }
    return width > 400 ? 4 : 2;
}

CRTPMediaParser::CRTPMediaParser(IDriver* driver, std::string name)
    : m_driver(driver)
    , m_name(std::move(name)) {}

std::uint32_t CRTPMediaParser::CheckSequence(std::uint16_t sequenceNumber) {
    const std::uint32_t missing =
            m_firstPacket ? 0 : static_cast<std::uint16_t>(sequenceNumber - m_lastSeq - 1);
    m_firstPacket = false;
    m_lastSeq = sequenceNumber;
    return missing;
}

bool CRTPMediaParser::CheckBufferSize() {
    if (m_frame.size() <= kMaxFrameSize) {
        return true;
    }
    if (m_driver != nullptr) {
        const DEVICE_INFO device = m_driver->GetDeviceInfo();
        m_driver->DebugMessage(1, "%s: Frame buffer overflow detected, device %s:%u",
                               kCheckBufferSizeName, device.address.c_str(),
                               static_cast<unsigned>(device.port));
    }
    return false;
}

void CRTPMediaParser::OnPacket(const RtpPacketInfo* packet) {
    if (packet == nullptr) {
        return;
    }
    const std::uint64_t deliveredBefore = m_framesDelivered;
    bool frameEnds = packet->marker;
    try {
        const std::uint32_t missing = CheckSequence(packet->sequenceNumber);
        const bool frameWasOpen = !m_lastEndedFrame;
        const std::uint32_t lastTimestamp = m_lastTimestamp;
        m_lastEndedFrame = packet->marker;
        m_lastTimestamp = packet->timestamp;
        if (missing != 0) {
            const LossAction action = OnLoss(missing, frameWasOpen);
            ClearFrame();
            if (action == LossAction::Reset) {
                Reset();
            } else if (action == LossAction::DropRestOfFrame) {
                m_dropUntilMarker = true;
                m_dropTimestamp = lastTimestamp;
            }
        }
        if (m_dropUntilMarker) {
            // The cut frame ends at its marker bit, or where a packet of another frame (another
            // timestamp) shows that the marker was lost with it.
            const bool nextFrame = packet->timestamp != m_dropTimestamp;
            if (nextFrame || packet->marker) {
                m_dropUntilMarker = false;
                ReportDamagedFrame();
            }
            if (!nextFrame) {
                return;
            }
        }
        if (m_frame.capacity() == 0) {
            m_frame.reserve(kFrameReserve);
        }
        const std::span<const std::uint8_t> payload = packet->Payload();
        // A packet of padding alone (RFC 3550 5.1) carries nothing for the frame.
        const PayloadResult result =
                payload.empty() && packet->padding ? PayloadResult::Ignored : ParsePayload(payload);
        if (result == PayloadResult::AcceptedFrameOpen) {
            frameEnds = false;
        }
        if (result == PayloadResult::Ignored) {
            // nothing taken; the frame in progress stays as it is
        } else if (!CheckBufferSize() || result == PayloadResult::Rejected) {
            Reset();
        } else if (packet->marker && result == PayloadResult::Accepted) {
            OnFrameComplete();
            ClearFrame();
        }
    } catch (...) {
        // Out of memory or a throwing host object: the frame in progress is unusable.
        Reset();
    }
    if (frameEnds) {
        CountFrameEnd(m_framesDelivered != deliveredBefore);
    }
}

void CRTPMediaParser::CountFrameEnd(bool delivered) {
    if (delivered) {
        m_outOfStep = false;
    } else if (m_outOfStep) {
        ReportDamagedFrame();
    }
}

void CRTPMediaParser::ReportDamagedFrame() {
    if (m_client != nullptr) {
        m_client->OnFrameDamaged();
    }
}

void CRTPMediaParser::ClearFrame() {
    FitFrameStorage();
    m_frame.clear(); // keeps the storage for the next frame
}

void CRTPMediaParser::FitFrameStorage() {
    const std::size_t size = m_frame.size();
    if (size == 0) {
        return;
    }
    const std::size_t usual = *std::max_element(m_recentSizes.begin(), m_recentSizes.end());
    m_recentSizes[m_recentNext] = size;
    m_recentNext = (m_recentNext + 1) % kRecentFrames;
    if (m_frame.capacity() > kFrameReserve && size > 2 * usual) {
        std::vector<std::uint8_t>().swap(m_frame); // the next frame takes kFrameReserve again
    }
}

void CRTPMediaParser::Reset() {
    m_waitSync = true;
    m_outOfStep = true;
    m_width = 0;
    m_height = 0;
    m_dropUntilMarker = false;
    ClearFrame();
}

IHostSampleAllocator* CRTPMediaParser::BeginDelivery() {
    if (m_driver == nullptr || m_client == nullptr || m_frame.empty()) {
        return nullptr;
    }
    return m_driver->GetSampleAllocator();
}

IHostSample* CRTPMediaParser::AllocateSample(IHostSampleAllocator* allocator, std::uint32_t fourcc,
                                             std::uint32_t capacity) {
    return allocator->AllocateSample(fourcc, capacity, m_name.c_str());
}

bool CRTPMediaParser::HandOver(IHostSample* sample) {
    try {
        if (!m_client->OnFrame(sample)) {
            return false;
        }
        ++m_framesDelivered;
        return true;
    } catch (...) {
        return false; // a client that throws has not taken the frame
    }
}

void CRTPMediaParser::ReleaseSample(IHostSampleAllocator* allocator, IHostSample* sample) {
    try {
        allocator->ReleaseSample(sample);
    } catch (...) {
        // The sample is the host's; nothing more can be done with it here.
    }
}

} // namespace norvane
