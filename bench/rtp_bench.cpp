// Depacketizing cost of a 1080p H.264 stream of 1400-byte FU-A packets, through delivery into a
// host sample, next to memcpy of the same bytes in 1 MiB blocks in the same run. Heap
// allocations during the timed loop are counted and reported per packet.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "core/driver_interfaces.h"
#include "norvane/host.h"
#include "rtp/h264_rtp_media_parser.h"
#include "rtp/sps_reader.h"
#include "support/stub_driver.h"

namespace {

std::atomic<std::uint64_t> g_allocations{0};

} // namespace

// Replacement allocation functions that count every allocation of the program. GCC cannot tell
// that malloc and free are paired through them and warns about the calls it inlines.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept {
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

using namespace norvane;

constexpr std::size_t kMtu = 1400;
constexpr std::size_t kIdrBytes = 300 * 1024; // a 1080p key frame at a few Mbit/s
constexpr std::size_t kPBytes = 40 * 1024;
constexpr int kGop = 25;

// A host sample over one buffer that is reused for every frame (no allocation).
class ReusedSample : public IHostSample {
public:
    std::uint8_t* GetBuffer() override { return buffer.data(); }

    void SetLength(std::uint32_t value) override { length = value; }

    void Commit() override {}

    void SetFourCC(std::uint32_t) override {}

    void SetHeight(std::uint32_t) override {}

    void SetWidth(std::uint32_t) override {}

    void SetImageSize(std::uint32_t) override {}

    std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(2 * 1024 * 1024);
    std::uint32_t length = 0;
};

class ReusingAllocator : public IHostSampleAllocator {
public:
    IHostSample* AllocateSample(std::uint32_t, std::uint32_t capacity, const char*) override {
        return capacity <= sample.buffer.size() ? &sample : nullptr;
    }

    void ReleaseSample(IHostSample*) override {}

    ReusedSample sample;
};

using BenchDriver = test::StubDriver<ReusingAllocator>;

class CountingClient final : public IMediaParserClient {
public:
    bool OnFrame(IHostSample*) override {
        ++frames;
        return true;
    }

    std::pair<std::uint32_t, std::uint32_t> GetConfiguredSize() override { return {1920, 1080}; }

    std::uint64_t frames = 0;
};

// One group of pictures as RTP packets: STAP-A with SPS and PPS, then the IDR slice, then P
// slices, each slice in FU-A fragments of kMtu bytes.
struct Stream {
    std::vector<std::vector<std::uint8_t>> payloads;
    std::vector<RtpPacketInfo> packets;
    std::size_t payloadBytes = 0;
};

void AddFragments(Stream& s, std::uint8_t nalHeader, std::size_t size, std::mt19937& random) {
    std::vector<std::uint8_t> body(size);
    for (auto& b : body) {
        b = static_cast<std::uint8_t>(random());
    }
    for (std::size_t pos = 0; pos < size; pos += kMtu - 2) {
        const std::size_t end = std::min(size, pos + kMtu - 2);
        std::vector<std::uint8_t> p = {static_cast<std::uint8_t>((nalHeader & 0xE0) | 28),
                                       static_cast<std::uint8_t>((pos == 0 ? 0x80 : 0) |
                                                                 (end == size ? 0x40 : 0) |
                                                                 (nalHeader & 0x1F))};
        p.insert(p.end(), body.begin() + static_cast<std::ptrdiff_t>(pos),
                 body.begin() + static_cast<std::ptrdiff_t>(end));
        s.payloads.push_back(std::move(p));
    }
}

Stream MakeStream() {
    Stream s;
    std::mt19937 random(42);
    const std::vector<std::uint8_t> sps = MakeSps(1920, 1080);
    const std::vector<std::uint8_t> pps = {0x68, 0xCE, 0x3C, 0x80};
    std::vector<bool> markers;
    for (int frame = 0; frame < kGop; ++frame) {
        if (frame == 0) {
            std::vector<std::uint8_t> stap = {0x18, 0, static_cast<std::uint8_t>(sps.size())};
            stap.insert(stap.end(), sps.begin(), sps.end());
            stap.insert(stap.end(), {0, static_cast<std::uint8_t>(pps.size())});
            stap.insert(stap.end(), pps.begin(), pps.end());
            s.payloads.push_back(stap);
            markers.push_back(false);
        }
        const std::size_t before = s.payloads.size();
        AddFragments(s, frame == 0 ? 0x65 : 0x41, frame == 0 ? kIdrBytes : kPBytes, random);
        markers.resize(s.payloads.size(), false);
        markers.back() = true;
        (void)before;
    }
    for (std::size_t i = 0; i < s.payloads.size(); ++i) {
        RtpPacketInfo info;
        info.payload = s.payloads[i].data();
        info.payloadLength = static_cast<std::int32_t>(s.payloads[i].size());
        info.marker = markers[i];
        s.packets.push_back(info);
        s.payloadBytes += s.payloads[i].size();
    }
    return s;
}

const Stream& TheStream() {
    static const Stream stream = MakeStream();
    return stream;
}

void BM_DepacketizeH264IntoHostSample(benchmark::State& state) {
    const Stream& stream = TheStream();
    std::vector<RtpPacketInfo> packets = stream.packets;
    BenchDriver driver;
    CountingClient client;
    CH264RTPMediaParser parser(&driver, "Vantrel");
    parser.SetClient(&client);
    std::uint16_t sequence = 0;
    auto run = [&] {
        for (RtpPacketInfo& packet : packets) {
            packet.sequenceNumber = sequence++;
            parser.OnPacket(&packet);
        }
    };
    run(); // warm-up: the frame buffer reaches its steady size
    const std::uint64_t framesBefore = client.frames;
    const std::uint64_t allocationsBefore = g_allocations.load();
    for (auto _ : state) {
        run();
    }
    const std::uint64_t allocations = g_allocations.load() - allocationsBefore;
    const double packetCount =
            static_cast<double>(packets.size()) * static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(stream.payloadBytes) * state.iterations());
    state.counters["packets_per_iter"] = static_cast<double>(packets.size());
    state.counters["time_per_packet"] = benchmark::Counter(
            static_cast<double>(packets.size()),
            benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["allocs_per_packet"] = static_cast<double>(allocations) / packetCount;
    state.counters["frames_per_iter"] = static_cast<double>(client.frames - framesBefore) /
                                        static_cast<double>(state.iterations());
}

BENCHMARK(BM_DepacketizeH264IntoHostSample)->Unit(benchmark::kMicrosecond);

// memcpy of the same number of bytes, in 1 MiB blocks.
void BM_MemcpySameBytes(benchmark::State& state) {
    const std::size_t total = TheStream().payloadBytes;
    constexpr std::size_t kBlock = 1024 * 1024;
    std::vector<std::uint8_t> source(kBlock, 0x5A);
    std::vector<std::uint8_t> target(kBlock);
    for (auto _ : state) {
        for (std::size_t done = 0; done < total; done += kBlock) {
            const std::size_t n = std::min(kBlock, total - done);
            std::memcpy(target.data(), source.data(), n);
            benchmark::ClobberMemory();
        }
        benchmark::DoNotOptimize(target.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(total) * state.iterations());
}

BENCHMARK(BM_MemcpySameBytes)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
