// CRTPMediaParser: the common base of the payload parsers (H.264, JPEG). It checks sequence
// numbers, holds the frame being assembled, bounds its size, and delivers a completed frame in a
// host sample to its client, the stream channel (IMediaParserClient).
//
// Threads: a parser is used only on the receive thread of its channel's UDP port and has no lock.
// The channel sets the client and (H.264) the parameter sets before the stream starts.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "rtp/rtp_packet_info.h"

namespace norvane {

class IDriver;
class IHostSample;
class IHostSampleAllocator;

// IMediaParserClient receives the frames of one parser; the stream channel implements it.
class IMediaParserClient {
public:
    // OnFrame takes one completed frame; true means accepted. The sample stays the parser's and is
    // released right after the call, so the client copies what it keeps.
    virtual bool OnFrame(IHostSample* sample) = 0;
    // GetConfiguredSize returns the picture size (width, height) the channel asked the camera for.
    virtual std::pair<std::uint32_t, std::uint32_t> GetConfiguredSize() = 0;

protected:
    ~IMediaParserClient() = default;
};

// Largest frame assembled; a larger one is reported once and dropped.
constexpr std::size_t kMaxFrameSize = 10485760; // 10 MiB

// ImageSizeCode classifies a picture size for the host: 3 for a narrow wide picture (w < 1024
// and w > 2h, half-height fields), 4 for w > 400, 2 otherwise.
[[nodiscard]] std::uint32_t ImageSizeCode(std::uint32_t width, std::uint32_t height);

class CRTPMediaParser {
public:
    CRTPMediaParser(IDriver* driver, std::string name);
    virtual ~CRTPMediaParser() = default;
    CRTPMediaParser(const CRTPMediaParser&) = delete;
    CRTPMediaParser& operator=(const CRTPMediaParser&) = delete;

    // OnPacket takes the next RTP packet of the stream, in arrival order.
    virtual void OnPacket(const RtpPacketInfo* packet) = 0;
    // Reset drops the frame in progress and waits for the next sync point.
    virtual void Reset() = 0;

    void SetClient(IMediaParserClient* client) { m_client = client; }

    [[nodiscard]] std::uint32_t Width() const { return m_width; }

    [[nodiscard]] std::uint32_t Height() const { return m_height; }

    [[nodiscard]] bool WaitingForSync() const { return m_waitSync; }

    [[nodiscard]] std::size_t FrameLength() const { return m_frame.size(); }

protected:
    // CheckSequence records the packet's sequence number and reports whether it follows the
    // previous one (modulo 65536). The first packet ever is in order. Loss, repetition and
    // reordering all show as a packet out of order.
    [[nodiscard]] bool CheckSequence(std::uint16_t sequenceNumber);

    // CheckBufferSize reports false, with one message at level 1, when the frame has grown past
    // kMaxFrameSize; the caller then resets, so the message comes once per oversized frame.
    [[nodiscard]] bool CheckBufferSize();

    // ResetState is the body of Reset shared by both parsers.
    void ResetState();

    // BeginDelivery returns the host's allocator when a frame can be delivered at all (driver,
    // client, allocator present, frame not empty); null otherwise.
    [[nodiscard]] IHostSampleAllocator* BeginDelivery();

    // DeliverSample asks `allocator` for a sample coded `fourcc` of `capacity` bytes, lets `fill`
    // write the frame, set the codec's attributes and commit (fill returns false when writing
    // failed, and the parser resets), hands the sample to the client (a refused or throwing client
    // resets the parser) and releases the sample in every case.
    template <class Fill>
    void DeliverSample(IHostSampleAllocator* allocator, std::uint32_t fourcc,
                       std::uint32_t capacity, Fill&& fill);

    std::uint16_t m_lastSeq = 0;
    bool m_firstPacket = true;
    IDriver* m_driver;
    std::string m_name;
    IMediaParserClient* m_client = nullptr;
    std::vector<std::uint8_t> m_frame;
    std::uint32_t m_width = 0;
    std::uint32_t m_height = 0;
    bool m_waitSync = false;

private:
    IHostSample* AllocateSample(IHostSampleAllocator* allocator, std::uint32_t fourcc,
                                std::uint32_t capacity);
    // HandOver offers the filled sample to the client; false when it refused or threw.
    bool HandOver(IHostSample* sample);
    static void ReleaseSample(IHostSampleAllocator* allocator, IHostSample* sample);
};

template <class Fill>
void CRTPMediaParser::DeliverSample(IHostSampleAllocator* allocator, std::uint32_t fourcc,
                                    std::uint32_t capacity, Fill&& fill) {
    IHostSample* sample = AllocateSample(allocator, fourcc, capacity);
    if (sample == nullptr) {
        return;
    }

    struct Release {
        IHostSampleAllocator* allocator;
        IHostSample* sample;

        ~Release() { ReleaseSample(allocator, sample); }
    } release{allocator, sample};

    if (!fill(sample)) {
        Reset();
        return;
    }
    if (!HandOver(sample)) {
        Reset();
    }
}

} // namespace norvane
