// Minimal host and driver objects for the RTP fuzz targets (the fuzz build has no test support):
// samples are plain heap buffers of exactly the requested capacity, so that a write past it is
// caught by the address sanitizer, and a packet-sequence reader for the structured targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "core/driver_interfaces.h"
#include "norvane/host.h"
#include "rtp/rtp_media_parser.h"
#include "rtp/rtp_packet_info.h"
#include "support/stub_driver.h"

namespace norvane::fuzz {

class Sample final : public IHostSample {
    NORVANE_IMPLEMENT_SLOT0(Sample)

public:
    explicit Sample(std::uint32_t capacity) : m_buffer(capacity) {}

    std::uint8_t* GetBuffer() override { return m_buffer.data(); }

    void SetLength(std::uint32_t length) override {
        if (length > m_buffer.size()) {
            __builtin_trap(); // a frame longer than its sample
        }
        m_length = length;
    }

    // Bytes is the frame as the parser wrote it, up to the length it set.
    [[nodiscard]] std::span<const std::uint8_t> Bytes() const {
        return std::span(m_buffer).first(m_length);
    }

    void Commit() override {}

    void SetFourCC(std::uint32_t) override {}

    void SetHeight(std::uint32_t) override {}

    void SetWidth(std::uint32_t) override {}

    void SetImageSize(std::uint32_t) override {}

private:
    std::vector<std::uint8_t> m_buffer;
    std::size_t m_length = 0;
};

class Allocator final : public IHostSampleAllocator {
    NORVANE_IMPLEMENT_SLOT0(Allocator)

public:
    IHostSample* AllocateSample(std::uint32_t, std::uint32_t capacity, const char*) override {
        ++outstanding;
        return new Sample(capacity);
    }

    void ReleaseSample(IHostSample* sample) override {
        --outstanding;
        delete static_cast<Sample*>(sample);
    }

    int outstanding = 0;
};

using Driver = test::StubDriver<Allocator>;

class Client final : public IMediaParserClient {
public:
    bool OnFrame(IHostSample*) override { return accept; }

    std::pair<std::uint32_t, std::uint32_t> GetConfiguredSize() override { return size; }

    bool accept = true;
    std::pair<std::uint32_t, std::uint32_t> size{704, 576};
};

// Reads a packet sequence: records of [flags][length, 2 bytes big-endian][payload]. Flags: bit 0
// marker, bit 1 one packet lost before this one, bit 2 a repeated sequence number, bit 3 the client
// refuses frames from here on, bit 4 accepts them again.
class CPacketSequence {
public:
    explicit CPacketSequence(std::span<const std::uint8_t> data) : m_data(data) {}

    struct Record {
        std::uint8_t flags = 0;
        RtpPacketInfo info;
    };

    bool Next(Record& record) {
        if (m_data.size() < 3) {
            return false;
        }
        record = {};
        record.flags = m_data[0];
        std::size_t length = (static_cast<std::size_t>(m_data[1]) << 8) | m_data[2];
        m_data = m_data.subspan(3);
        length = std::min(length, m_data.size());
        if ((record.flags & 2) != 0) {
            ++m_sequence;
        }
        if ((record.flags & 4) == 0) {
            ++m_sequence;
        }
        record.info.sequenceNumber = m_sequence;
        record.info.marker = (record.flags & 1) != 0;
        // A private copy, so that a read past the payload is caught by the sanitizer.
        m_payload.assign(m_data.begin(), m_data.begin() + static_cast<std::ptrdiff_t>(length));
        record.info.payload = m_payload.empty() ? nullptr : m_payload.data();
        record.info.payloadLength = static_cast<std::int32_t>(m_payload.size());
        m_data = m_data.subspan(length);
        return true;
    }

    [[nodiscard]] std::span<const std::uint8_t> Rest() const { return m_data; }

    void Consume(std::size_t count) { m_data = m_data.subspan(std::min(count, m_data.size())); }

    // TakeSet cuts a parameter set, [length][bytes], off the front (shorter when the data ends).
    std::span<const std::uint8_t> TakeSet() {
        if (m_data.empty()) {
            return m_data;
        }
        const std::size_t length = std::min<std::size_t>(m_data[0], m_data.size() - 1);
        const auto set = m_data.subspan(1, length);
        Consume(1 + length);
        return set;
    }

private:
    std::span<const std::uint8_t> m_data;
    std::vector<std::uint8_t> m_payload;
    std::uint16_t m_sequence = 0;
};

// Runs a parser over the packet sequence in `data`.
template <class Parser>
void FeedSequence(Parser& parser, Client& client, CPacketSequence& sequence) {
    CPacketSequence::Record record;
    while (sequence.Next(record)) {
        if ((record.flags & 8) != 0) {
            client.accept = false;
        }
        if ((record.flags & 16) != 0) {
            client.accept = true;
        }
        parser.OnPacket(&record.info);
    }
}

} // namespace norvane::fuzz
