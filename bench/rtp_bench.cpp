// Depacketizing cost of a 1080p H.264 stream of 1400-byte FU-A packets, through delivery into a
// host sample, next to memcpy of the same bytes in 1 MiB blocks in the same run; and the same
// stream as datagrams through the whole receive path above the socket (UDP packet source, RTP
// header, the channel's camera filter, parser, host frame sink). Heap allocations during the
// timed loop are counted and reported per packet.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "channels/base_rtp_channel.h"
#include "core/driver_interfaces.h"
#include "norvane/host.h"
#include "rtp/h264_rtp_media_parser.h"
#include "rtp/sps_reader.h"
#include "rtp/udp_packet_source.h"
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

// MeasurePerPacket times `run`, one pass over `packets` packets that delivers frames counted in
// `frames`, after one pass that lets the frame buffer reach its steady size, and reports time,
// heap allocations and frames per packet.
template <class Run>
void MeasurePerPacket(benchmark::State& state, std::size_t packets, const std::uint64_t& frames,
                      Run&& run) {
    run();
    const std::uint64_t framesBefore = frames;
    const std::uint64_t allocationsBefore = g_allocations.load();
    for (auto _ : state) {
        run();
    }
    const std::uint64_t allocations = g_allocations.load() - allocationsBefore;
    const double iterations = static_cast<double>(state.iterations());
    const double perIteration = static_cast<double>(packets);
    state.counters["packets_per_iter"] = perIteration;
    state.counters["time_per_packet"] =
            benchmark::Counter(perIteration, benchmark::Counter::kIsIterationInvariantRate |
                                                     benchmark::Counter::kInvert);
    state.counters["allocs_per_packet"] =
            static_cast<double>(allocations) / (perIteration * iterations);
    state.counters["frames_per_iter"] = static_cast<double>(frames - framesBefore) / iterations;
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
    MeasurePerPacket(state, packets.size(), client.frames, run);
    state.SetBytesProcessed(static_cast<std::int64_t>(stream.payloadBytes) * state.iterations());
}

BENCHMARK(BM_DepacketizeH264IntoHostSample)->Unit(benchmark::kMicrosecond);

// The receive path of a streaming channel above the socket: each datagram enters where the UDP
// port hands it over and leaves as a frame in the host's sink.
class CountingFrameSink final : public IFrameSink {
    NORVANE_IMPLEMENT_SLOT0(CountingFrameSink)

public:
    bool OnFrame(IHostSample*) override {
        ++frames;
        return true;
    }

    void OnSignalLost() override {}

    std::uint64_t frames = 0;
};

class StreamingChannel final : public CBaseRTPChannel {
public:
    StreamingChannel(IDriver* driver, IFrameSink* sink, std::uint32_t camera)
        : CBaseRTPChannel(driver, 0, sink)
        , m_parser(driver, "Vantrel") {
        m_parser.SetClient(this);
        m_cameraAddress.store(camera);
        SetState(kStateStreaming);
    }

    ~StreamingChannel() override { Stop(); }

    bool ConfigureCamera() override { return false; }

    void SendKeepAlive() override {}

    void FeedParser(const RtpPacketInfo* packet) override { m_parser.OnPacket(packet); }

private:
    CH264RTPMediaParser m_parser;
};

void BM_ReceivePathIntoHostSample(benchmark::State& state) {
    const Stream& stream = TheStream();
    std::vector<std::vector<std::uint8_t>> datagrams;
    for (std::size_t i = 0; i < stream.payloads.size(); ++i) {
        std::vector<std::uint8_t> d = {
                0x80, static_cast<std::uint8_t>((stream.packets[i].marker ? 0x80 : 0) | 96),
                0,    0,
                0,    0,
                0,    1,
                1,    2,
                3,    4};
        d.insert(d.end(), stream.payloads[i].begin(), stream.payloads[i].end());
        datagrams.push_back(std::move(d));
    }
    BenchDriver driver;
    CountingFrameSink sink;
    const platform::SocketAddress camera{platform::LoopbackAddress(), 5000};
    StreamingChannel channel(&driver, &sink, camera.address);
    CUDPPacketSource source;
    source.SetSink(&channel);
    std::uint16_t sequence = 0;
    auto run = [&] {
        for (std::vector<std::uint8_t>& d : datagrams) {
            d[2] = static_cast<std::uint8_t>(sequence >> 8);
            d[3] = static_cast<std::uint8_t>(sequence);
            ++sequence;
            benchmark::DoNotOptimize(source.OnReceive(&source.Port(), camera, d.data(),
                                                      static_cast<std::int32_t>(d.size())));
        }
    };
    MeasurePerPacket(state, datagrams.size(), sink.frames, run);
}

BENCHMARK(BM_ReceivePathIntoHostSample)->Unit(benchmark::kMicrosecond);

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
