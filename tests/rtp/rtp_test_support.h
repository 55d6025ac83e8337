// Test doubles for the RTP media tests: a driver that records its messages and hands out the
// shared fake allocator, a parser client that records frames, and RTP packet records built from
// owned bytes.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "driver/driver_interfaces.h"
#include "rtp/rtp_media_parser.h"
#include "rtp/rtp_packet_info.h"
#include "support/fakes.h"

namespace norvane::test {

class FakeDriver : public IDriver {
public:
    void DebugMessage(unsigned char level, const char* format, ...) override
            __attribute__((format(printf, 3, 4))) {
        char text[1024];
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
        std::lock_guard<std::mutex> guard(m_mutex);
        m_messages.push_back({level, text});
    }

    DEVICE_INFO GetDeviceInfo() override { return device; }

    std::pair<std::int32_t, std::int32_t> GetIOCounts() override { return {1, 1}; }

    IHostSampleAllocator* GetSampleAllocator() override {
        return withAllocator ? &allocator : nullptr;
    }

    std::int32_t IsNtsc() override { return 0; }

    std::int32_t GetStreamType() override { return 3; }

    std::int32_t GetChannelCount() override { return 1; }

    std::string GetStringParameter(std::uint32_t) override { return {}; }

    std::int32_t GetIntParameter(std::uint32_t) override { return kNoIntParameter; }

    std::vector<DebugRecord> Messages() const {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_messages;
    }

    DEVICE_INFO device;
    FakeSampleAllocator allocator;
    bool withAllocator = true;

private:
    mutable std::mutex m_mutex;
    std::vector<DebugRecord> m_messages;
};

// A stream channel stand-in: frames go to a FakeFrameSink, the configured size is a field.
class FakeParserClient final : public IMediaParserClient {
public:
    bool OnFrame(IHostSample* sample) override { return sink.OnFrame(sample); }

    std::pair<std::uint32_t, std::uint32_t> GetConfiguredSize() override { return size; }

    FakeFrameSink sink;
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
