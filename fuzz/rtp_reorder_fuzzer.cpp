// Fuzz target: the reorder window in front of the H.264 depacketizer. A stream of frames is sent
// once in order (the reference) and once permuted, repeated and thinned as the input says. Every
// frame delivered from the impaired stream must be byte-identical to a reference frame, in the
// reference order (never a mix of two frames); with nothing dropped and no packet displaced
// beyond the window, every reference frame must be delivered.
//
// Input: [frames-1 (low 4 bits)][largest displacement][one byte per packet: bits 0-5 delay,
// bit 6 repeat it, bit 7 drop it]...; missing bytes impair nothing.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "rtp/h264_rtp_media_parser.h"
#include "rtp/rtp_reorder_window.h"
#include "rtp/sps_reader.h"
#include "rtp_fuzz_support.h"

namespace {

using namespace norvane;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kFuA = 28;
constexpr std::uint8_t kIdr = 5;
constexpr std::uint8_t kNonIdr = 1;
constexpr std::uint64_t kUsPerArrival = 100;

struct SentPacket {
    std::uint16_t sequence = 0;
    bool marker = false;
    Bytes payload;
};

// AddFrame appends frame `k` of the stream: an IDR picture every fifth frame and every third other
// picture one that nothing refers to, 1 to 4 packets, with slice headers that number the pictures
// as an encoder does (frame_num of 4 bits, as the parser's SPS says) and bytes that differ from
// frame to frame.
void AddFrame(std::size_t k, std::vector<SentPacket>& packets, std::uint32_t& frameNum) {
    const std::uint8_t type = k % 5 == 0 ? kIdr : kNonIdr;
    const bool reference = type == kIdr || k % 3 != 0;
    const std::uint8_t nalHeader = static_cast<std::uint8_t>((reference ? 0x60 : 0) | type);
    if (type == kIdr) {
        frameNum = 0;
    }
    // first_mb_in_slice 0, slice_type 0, pic_parameter_set_id 0 (three 1 bits), frame_num, a 1.
    const auto sliceStart = static_cast<std::uint8_t>(0xE0 | (frameNum & 15) << 1 | 1);
    if (reference) {
        frameNum = (frameNum + 1) & 15;
    }
    // An IDR picture is fragmented, so that the parser puts the parameter sets in front of it.
    const std::size_t fragments = type == kIdr ? 2 + k % 3 : 1 + k % 4;
    for (std::size_t f = 0; f < fragments; ++f) {
        SentPacket packet;
        packet.sequence = static_cast<std::uint16_t>(65500 + packets.size()); // wraps on the way
        packet.marker = f + 1 == fragments;
        if (fragments == 1) {
            packet.payload.push_back(nalHeader);
        } else {
            packet.payload.push_back(static_cast<std::uint8_t>((nalHeader & 0x60) | kFuA));
            packet.payload.push_back(static_cast<std::uint8_t>((f == 0 ? 0x80 : 0) |
                                                               (packet.marker ? 0x40 : 0) | type));
        }
        if (f == 0) {
            packet.payload.push_back(sliceStart);
        }
        const std::size_t length = 8 + (k * 7 + f * 13) % 40;
        for (std::size_t i = 0; i < length; ++i) {
            packet.payload.push_back(static_cast<std::uint8_t>(k * 31 + f * 7 + i + 1));
        }
        packets.push_back(std::move(packet));
    }
}

class Receiver final : public IMediaParserClient, public IOrderedPacketSink {
public:
    Receiver() : parser(&driver, "Vantrel") {
        parser.SetClient(this);
        const std::uint8_t pps[] = {0x68, 0xCE, 0x3C, 0x80};
        parser.SetParameterSets(MakeSps(704, 576), pps);
    }

    bool OnFrame(IHostSample* sample) override {
        const auto bytes = static_cast<fuzz::Sample*>(sample)->Bytes();
        frames.emplace_back(bytes.begin(), bytes.end());
        return true;
    }

    std::pair<std::uint32_t, std::uint32_t> GetConfiguredSize() override { return {704, 576}; }

    void OnOrderedPacket(const RtpPacketInfo& packet) override { parser.OnPacket(&packet); }

    void Receive(const SentPacket& sent, std::uint64_t atUs) {
        RtpPacketInfo info;
        info.sequenceNumber = sent.sequence;
        info.marker = sent.marker;
        info.ssrc = 0x11223344;
        info.payload = sent.payload.data();
        info.payloadLength = static_cast<std::int32_t>(sent.payload.size());
        window.Push(info, atUs);
    }

    fuzz::Driver driver;
    CH264RTPMediaParser parser;
    CRtpReceptionStats stats;
    CRtpReorderWindow window{*this, stats};
    std::vector<Bytes> frames;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    const std::size_t frameCount = 1 + (input.empty() ? 0 : input[0] & 15);
    const std::uint32_t maxDelay = input.size() < 2 ? 0 : input[1] & 63;
    const std::span<const std::uint8_t> impairments = input.subspan(std::min<std::size_t>(2, size));

    std::vector<SentPacket> packets;
    std::uint32_t frameNum = 0;
    for (std::size_t k = 0; k < frameCount; ++k) {
        AddFrame(k, packets, frameNum);
    }

    Receiver reference;
    for (std::size_t i = 0; i < packets.size(); ++i) {
        reference.Receive(packets[i], i * kUsPerArrival);
    }

    // Arrival order: packet i (and its repeat) arrives at slot i + delay, delay <= maxDelay.
    struct Arrival {
        std::uint32_t key;
        std::size_t packet;
    };

    std::vector<Arrival> arrivals;
    bool dropped = false;
    for (std::size_t i = 0; i < packets.size(); ++i) {
        const std::uint8_t b = i < impairments.size() ? impairments[i] : 0;
        if ((b & 0x80) != 0) {
            dropped = true;
            continue;
        }
        // The first packet arriving starts the sequence; one before it would count as late.
        const auto delay = i == 0 ? 0 : std::min<std::uint32_t>(b & 63, maxDelay);
        arrivals.push_back({static_cast<std::uint32_t>(i) + delay, i});
        if ((b & 0x40) != 0) {
            arrivals.push_back({static_cast<std::uint32_t>(i) + maxDelay, i});
        }
    }
    std::stable_sort(arrivals.begin(), arrivals.end(),
                     [](const Arrival& a, const Arrival& b) { return a.key < b.key; });
    Receiver impaired;
    for (std::size_t n = 0; n < arrivals.size(); ++n) {
        impaired.Receive(packets[arrivals[n].packet], n * kUsPerArrival);
    }
    impaired.window.Expire(arrivals.size() * kUsPerArrival + CRtpReorderWindow::kMaxHoldUs);

    // Delivered frames are reference frames, in the reference order.
    std::size_t at = 0;
    for (const Bytes& frame : impaired.frames) {
        while (at < reference.frames.size() && reference.frames[at] != frame) {
            ++at;
        }
        if (at == reference.frames.size()) {
            __builtin_trap(); // a frame that was never sent, or out of order
        }
        ++at;
    }
    // Without loss, a displacement the window covers (within 64 packets and the hold bound)
    // costs nothing.
    if (!dropped && impaired.frames != reference.frames) {
        __builtin_trap();
    }
    if (reference.frames.size() != frameCount || impaired.window.HeldCount() != 0 ||
        reference.driver.allocator.outstanding != 0 || impaired.driver.allocator.outstanding != 0) {
        __builtin_trap();
    }
    return 0;
}
