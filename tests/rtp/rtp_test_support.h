// Test doubles for the RTP media tests: a driver that records its messages and hands out the
// shared fake allocator, a parser client that records frames, and RTP packet records built from
// owned bytes.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <iterator>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "core/driver_interfaces.h"
#include "rtp/rtp_media_parser.h"
#include "rtp/rtp_packet_info.h"
#include "support/fake_driver.h"
#include "support/fakes.h"

namespace norvane::test {

// A stream channel stand-in: frames go to a FakeFrameSink, the configured size is a field.
class FakeParserClient final : public IMediaParserClient {
public:
    bool OnFrame(IHostSample* sample) override { return sink.OnFrame(sample); }

    std::pair<std::uint32_t, std::uint32_t> GetConfiguredSize() override { return size; }

    void OnFrameDamaged() override { ++damaged; }

    FakeFrameSink sink;
    int damaged = 0;
    std::pair<std::uint32_t, std::uint32_t> size{704, 576};
};

// An RTP packet record that owns its payload bytes.
struct TestPacket {
    std::vector<std::uint8_t> payload;
    RtpPacketInfo info;

    TestPacket(std::uint16_t sequence, bool marker, std::vector<std::uint8_t> bytes)
        : payload(std::move(bytes)) {
        info.sequenceNumber = sequence;
        info.marker = marker;
        info.payload = payload.data();
        info.payloadLength = static_cast<std::int32_t>(payload.size());
    }

    TestPacket(const TestPacket&) = delete;
    TestPacket& operator=(const TestPacket&) = delete;
};

// RtpDatagram builds one RTP datagram: a 12-byte header (payload type 96, timestamp 1, SSRC
// 0x01020304) with `first` as its first byte (0x80: version 2), then `payload`.
inline std::vector<std::uint8_t> RtpDatagram(std::uint16_t sequence, bool marker,
                                             const std::vector<std::uint8_t>& payload,
                                             std::uint8_t first = 0x80) {
    const std::uint8_t header[kRtpFixedHeaderSize] = {
            first,
            static_cast<std::uint8_t>((marker ? 0x80 : 0) | 96),
            static_cast<std::uint8_t>(sequence >> 8),
            static_cast<std::uint8_t>(sequence & 0xFF),
            0,
            0,
            0,
            1,
            1,
            2,
            3,
            4};
    std::vector<std::uint8_t> datagram = payload;
    datagram.insert(datagram.begin(), std::begin(header), std::end(header));
    return datagram;
}

inline std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<std::uint8_t> bytes;
    for (int v : values) {
        bytes.push_back(static_cast<std::uint8_t>(v));
    }
    return bytes;
}

inline std::vector<std::uint8_t> Concat(std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

} // namespace norvane::test
