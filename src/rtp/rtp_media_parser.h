// CRTPMediaParser: the common base of the payload parsers (H.264, JPEG). Its OnPacket runs the
// steps every payload format shares: it checks sequence numbers, holds the frame being assembled,
// bounds its size, and at the marker bit has the format deliver the completed frame in a host
// sample to its client, the stream channel (IMediaParserClient). A payload format supplies only
// its own packet rules (ParsePayload) and the sample it makes of a frame (OnFrameComplete).
//
// Threads: a parser is used only on the thread that receives its channel's packets; no lock.
// The channel sets the client and (H.264) the parameter sets before the stream starts.
#pragma once

#include <array>
#include <cstdint>
#include <span>
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

    // OnFrameDamaged: a frame ended (its marker bit arrived) but was not delivered because the
    // parser had lost step (a lost packet, a bad payload) and not yet found a sync point again.
    virtual void OnFrameDamaged() {}

protected:
    ~IMediaParserClient() = default;
};

// Largest frame assembled; a larger one is reported once and dropped.
constexpr std::size_t kMaxFrameSize = 10485760; // 10 MiB

// Room taken for the frame in progress with its first packet: the pictures between key frames
// of a stream of a few Mbit/s fit. A larger frame grows the buffer.
constexpr std::size_t kFrameReserve = 64 * 1024;

// What a payload format made of one packet's payload.
enum class PayloadResult {
    Accepted,          // taken into the frame; a marker bit ends the frame
    AcceptedFrameOpen, // taken into the frame, but a marker bit does not end it
    Ignored,           // left out; the frame in progress stays as it is
    Rejected,          // the frame in progress is unusable: the parser resets
};

// ImageSizeCode classifies a picture size for the host: 3 for a narrow wide picture (w < 1024
// and w > 2h, half-height fields), 4 for w > 400, 2 otherwise.
[[nodiscard]] std::uint32_t ImageSizeCode(std::uint32_t width, std::uint32_t height);

class CRTPMediaParser {
public:
    CRTPMediaParser(IDriver* driver, std::string name);
    virtual ~CRTPMediaParser() = default;
    CRTPMediaParser(const CRTPMediaParser&) = delete;
    CRTPMediaParser& operator=(const CRTPMediaParser&) = delete;

    // OnPacket takes the next RTP packet of the stream, in sequence order (the channel's reorder
    // window puts it there and drops repeats). A gap in the sequence numbers drops the frame in
    // progress and, unless the payload format can tell that later frames stay intact
    // (ContinueAfterLoss), resets the parser; a rejected payload or a frame grown past
    // kMaxFrameSize resets it too; an accepted payload with the marker bit completes the frame; a
    // packet of padding alone is skipped. Frames that are dropped, or end while the parser waits
    // for a sync point, are reported to the client as damaged. Nothing escapes: a failure while
    // assembling or delivering resets the parser.
    void OnPacket(const RtpPacketInfo* packet);
    // Reset drops the frame in progress and waits for the next sync point.
    void Reset();

    void SetClient(IMediaParserClient* client) { m_client = client; }

    [[nodiscard]] std::uint32_t Width() const { return m_width; }

    [[nodiscard]] std::uint32_t Height() const { return m_height; }

    [[nodiscard]] bool WaitingForSync() const { return m_waitSync; }

    [[nodiscard]] std::size_t FrameLength() const { return m_frame.size(); }

protected:
    // ParsePayload applies the payload format's rules to one packet's payload (possibly empty),
    // appending what belongs to the frame to m_frame.
    [[nodiscard]] virtual PayloadResult ParsePayload(std::span<const std::uint8_t> payload) = 0;
    // OnFrameComplete delivers m_frame, which a marker bit has completed; the base clears it after.
    virtual void OnFrameComplete() = 0;

    // What a payload format does after a loss: what was assembled of the frame in progress is
    // dropped in every case.
    enum class LossAction {
        Reset,           // wait for the next sync point
        DropRestOfFrame, // the frame the loss cut is damaged: skip to its marker, then go on
        Continue,        // the next packet may start an intact frame; the format checks it
    };

    // OnLoss: `missing` packets were lost right before the next one; `frameWasOpen` when the
    // packet before them did not end a frame. By default the parser resets.
    [[nodiscard]] virtual LossAction OnLoss(std::uint32_t /*missing*/, bool /*frameWasOpen*/) {
        return LossAction::Reset;
    }

    // ClearFrame empties m_frame at the end of every frame, delivered or dropped; a format clears
    // what it noted of the frame as well.
    virtual void ClearFrame();

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
    // CheckSequence records the packet's sequence number and returns how many numbers were
    // skipped since the previous one (modulo 65536); 0 for the first packet ever. A repeat or a
    // packet behind shows as a loss of nearly 65536.
    [[nodiscard]] std::uint32_t CheckSequence(std::uint16_t sequenceNumber);
    void ReportDamagedFrame();

    // CountFrameEnd notes the end of a frame by its marker bit: delivered, or damaged while the
    // parser is out of step since its last reset.
    void CountFrameEnd(bool delivered);

    // CheckBufferSize reports false, with one message at level 1, when the frame has grown past
    // kMaxFrameSize; the caller then resets, so the message comes once per oversized frame.
    [[nodiscard]] bool CheckBufferSize();

    IHostSample* AllocateSample(IHostSampleAllocator* allocator, std::uint32_t fourcc,
                                std::uint32_t capacity);
    // HandOver offers the filled sample to the client; false when it refused or threw.
    bool HandOver(IHostSample* sample);
    static void ReleaseSample(IHostSampleAllocator* allocator, IHostSample* sample);

    // FitFrameStorage lets the storage of a frame far larger than the ones before it go (a key
    // frame is often ten times the pictures between), so that a channel holds room for its
    // usual frames rather than for its largest one; a steady stream of large frames keeps its
    // storage.
    void FitFrameStorage();

    // Sizes of the last frames, newest at m_recentNext - 1.
    static constexpr std::size_t kRecentFrames = 4;
    std::array<std::size_t, kRecentFrames> m_recentSizes{};
    std::size_t m_recentNext = 0;
    std::uint64_t m_framesDelivered = 0;
    bool m_outOfStep = false;       // reset since the last delivered frame
    bool m_lastEndedFrame = true;   // the last packet carried the marker bit
    bool m_dropUntilMarker = false; // a loss cut the frame in progress
    std::uint32_t m_lastTimestamp = 0;
    std::uint32_t m_dropTimestamp = 0; // of the frame the loss cut
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
