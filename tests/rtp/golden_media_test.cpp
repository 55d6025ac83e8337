// Golden tests: real H.264 and JPEG clips made with FFmpeg (tests/data) are packetized by the test
// packetizer, and an H.265 clip by GStreamer's rtph265pay, and rebuilt by the depacketizers.
// Access units must come out byte-exactly; pictures must decode (with FFmpeg, when installed) to
// the same pixels as the source pictures.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rtp/h264_rtp_media_parser.h"
#include "rtp/h265_rtp_media_parser.h"
#include "rtp/jpeg_header.h"
#include "rtp/jpeg_rtp_media_parser.h"
#include "rtp/rtp_test_support.h"
#include "rtp/test_packetizer.h"

namespace norvane {
namespace {

using test::Bytes8;
using test::FakeDriver;
using test::FakeParserClient;
using test::TestPacket;

constexpr std::size_t kMtu = 1400;
const Bytes8 kStart = {0, 0, 1};
const Bytes8 kEndOfUnit = {0, 0, 1, 0x09, 0x30};

Bytes8 ReadData(const std::string& name) {
    std::ifstream in(std::string(NORVANE_TEST_DATA_DIR) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool HaveFfmpeg() {
    return std::system("ffmpeg -version >/dev/null 2>&1") == 0;
}

// Decode runs FFmpeg over `data` (input format `format`) and returns the raw decoded frames.
std::optional<Bytes8> Decode(const Bytes8& data, const std::string& format) {
    static int counter = 0;
    const std::filesystem::path path =
            std::filesystem::temp_directory_path() /
            ("norvane_golden_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "_" + std::to_string(counter++) + "." + format);
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(data.data()),
                  static_cast<std::streamsize>(data.size()));
    }
    const std::string command =
            "ffmpeg -v error -f " + format + " -i '" + path.string() + "' -f rawvideo -";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        std::filesystem::remove(path);
        return std::nullopt;
    }
    Bytes8 raw;
    std::uint8_t buffer[65536];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        raw.insert(raw.end(), buffer, buffer + n);
    }
    const int status = ::pclose(pipe);
    std::filesystem::remove(path);
    if (status != 0 || raw.empty()) {
        return std::nullopt;
    }
    return raw;
}

// ExpectSamePictures checks that the delivered byte stream decodes to the source's `pictures`
// 320x240 pictures (skipped without ffmpeg, after the byte-exact checks of the caller).
void ExpectSamePictures(const Bytes8& stream, const Bytes8& delivered, const std::string& format,
                        std::size_t pictures) {
    if (!HaveFfmpeg()) {
        GTEST_SKIP() << "ffmpeg is not installed: the decode comparison was skipped "
                        "(the byte-exact checks ran)";
    }
    const auto source = Decode(stream, format);
    const auto rebuilt = Decode(delivered, format);
    ASSERT_TRUE(source && rebuilt);
    EXPECT_EQ(source->size(), pictures * 320 * 240 * 3 / 2);
    EXPECT_TRUE(*source == *rebuilt) << "the delivered stream decodes to other pictures";
}

class Feeder {
public:
    template <class Parser>
    void Feed(Parser& parser, const std::vector<test::RtpPayload>& packets) {
        for (const test::RtpPayload& p : packets) {
            TestPacket packet(m_seq++, p.marker, p.payload);
            parser.OnPacket(&packet.info);
        }
    }

private:
    std::uint16_t m_seq = 65500; // wraps within the clip
};

struct H264Case {
    const char* name;
    test::ParameterSetMode mode;
};

void PrintTo(const H264Case& c, std::ostream* os) {
    *os << c.name;
}

class GoldenH264 : public ::testing::TestWithParam<H264Case> {};

TEST_P(GoldenH264, AccessUnitsComeOutByteExactly) {
    const Bytes8 stream = ReadData("h264_320x240.h264");
    ASSERT_FALSE(stream.empty());
    const auto nals = test::SplitNalUnits(stream);
    const auto units = test::SplitAccessUnits(nals);
    ASSERT_EQ(units.size(), 30U);

    Bytes8 sps;
    Bytes8 pps;
    for (const Bytes8& nal : nals) {
        if ((nal[0] & 0x1F) == 7 && sps.empty()) {
            sps = nal;
        } else if ((nal[0] & 0x1F) == 8 && pps.empty()) {
            pps = nal;
        }
    }
    FakeDriver driver;
    FakeParserClient client;
    CH264RTPMediaParser parser(&driver, "Vantrel");
    parser.SetClient(&client);
    if (GetParam().mode == test::ParameterSetMode::OutOfBand) {
        parser.SetParameterSets(sps, pps);
    }
    Feeder feeder;
    std::size_t fragmented = 0;
    for (const auto& unit : units) {
        const auto packets = test::PacketizeAccessUnit(unit, GetParam().mode, kMtu);
        for (const auto& p : packets) {
            fragmented += (p.payload[0] & 0x1F) == 28 ? 1U : 0U;
        }
        feeder.Feed(parser, packets);
    }
    EXPECT_GT(fragmented, 0U);

    const auto frames = client.sink.Frames();
    ASSERT_EQ(frames.size(), units.size());
    Bytes8 delivered;
    for (std::size_t i = 0; i < units.size(); ++i) {
        SCOPED_TRACE(i);
        // What the depacketizer must rebuild: every NAL unit after a start code, except the
        // delimiters (sent alone, two bytes) and the SEI (dropped from aggregates, not sent out of
        // band); out of band, IDR pictures get the session's parameter sets in front.
        Bytes8 expected;
        bool idr = false;
        for (const Bytes8& nal : units[i]) {
            const std::uint8_t type = nal[0] & 0x1F;
            if (type == 9 || type == 6 ||
                ((type == 7 || type == 8) &&
                 GetParam().mode == test::ParameterSetMode::OutOfBand)) {
                continue;
            }
            if (type == 5 && !idr && GetParam().mode == test::ParameterSetMode::OutOfBand) {
                expected = test::Concat({kStart, sps, kStart, pps});
            }
            idr = idr || type == 5;
            expected.insert(expected.end(), kStart.begin(), kStart.end());
            expected.insert(expected.end(), nal.begin(), nal.end());
        }
        expected.insert(expected.end(), kEndOfUnit.begin(), kEndOfUnit.end());
        EXPECT_EQ(frames[i].bytes, expected);
        EXPECT_EQ(frames[i].fourcc, idr ? kFourCCH264 : kFourCCI264);
        EXPECT_EQ(frames[i].width, 320U);
        EXPECT_EQ(frames[i].height, 240U);
        EXPECT_EQ(frames[i].imageSize, 2U);
        delivered.insert(delivered.end(), frames[i].bytes.begin(), frames[i].bytes.end());
    }
    EXPECT_EQ(driver.allocator.Outstanding(), 0U);

    ExpectSamePictures(stream, delivered, "h264", 30U);
}

INSTANTIATE_TEST_SUITE_P(Modes, GoldenH264,
                         ::testing::Values(H264Case{"InBand", test::ParameterSetMode::InBand},
                                           H264Case{"OutOfBand",
                                                    test::ParameterSetMode::OutOfBand}),
                         [](const auto& param) { return std::string(param.param.name); });

// The RTP packets of a capture framed by two-byte lengths.
std::vector<Bytes8> ReadFramedPackets(const std::string& name) {
    const Bytes8 file = ReadData(name);
    std::vector<Bytes8> packets;
    std::size_t i = 0;
    while (i + 2 <= file.size()) {
        const std::size_t length = (std::size_t{file[i]} << 8) | file[i + 1];
        if (i + 2 + length > file.size()) {
            break;
        }
        packets.emplace_back(file.begin() + static_cast<std::ptrdiff_t>(i + 2),
                             file.begin() + static_cast<std::ptrdiff_t>(i + 2 + length));
        i += 2 + length;
    }
    return packets;
}

std::uint8_t H265Type(const Bytes8& nal) {
    return static_cast<std::uint8_t>((nal[0] >> 1) & 0x3F);
}

// Access units of an H.265 NAL unit sequence: each starts at an access unit delimiter.
std::vector<std::vector<Bytes8>> SplitH265AccessUnits(const std::vector<Bytes8>& nals) {
    std::vector<std::vector<Bytes8>> units;
    for (const Bytes8& nal : nals) {
        if (H265Type(nal) == 35 || units.empty()) {
            units.emplace_back();
        }
        units.back().push_back(nal);
    }
    return units;
}

struct H265Case {
    const char* name;
    const char* packets;
    bool setsOutOfBand; // the parameter set packets withheld, the sets given as from the SDP
};

void PrintTo(const H265Case& c, std::ostream* os) {
    *os << c.name;
}

class GoldenH265 : public ::testing::TestWithParam<H265Case> {};

TEST_P(GoldenH265, AccessUnitsComeOutByteExactly) {
    const H265Case& c = GetParam();
    const Bytes8 stream = ReadData("h265_320x240.h265");
    ASSERT_FALSE(stream.empty());
    const auto nals = test::SplitNalUnits(stream);
    const auto units = SplitH265AccessUnits(nals);
    ASSERT_EQ(units.size(), 20U);

    FakeDriver driver;
    FakeParserClient client;
    CH265RTPMediaParser parser(&driver, "Vantrel");
    parser.SetClient(&client);
    if (c.setsOutOfBand) {
        ASSERT_TRUE(parser.SetParameterSets(nals[1], nals[2], nals[3]));
    }
    std::uint16_t sequence = 7;
    std::vector<int> kinds(3, 0); // single, aggregation, fragmentation
    for (const Bytes8& datagram : ReadFramedPackets(c.packets)) {
        RtpPacketInfo info;
        ASSERT_TRUE(ParseRtpHeader(datagram, info));
        const std::uint8_t type = static_cast<std::uint8_t>((info.payload[0] >> 1) & 0x3F);
        if (c.setsOutOfBand && type >= 32 && type <= 34) {
            continue; // a camera that sends its sets only in the session description
        }
        ++kinds[type == 48 ? 1 : type == 49 ? 2 : 0];
        if (c.setsOutOfBand) {
            info.sequenceNumber = sequence++;
        }
        parser.OnPacket(&info);
    }
    EXPECT_GT(kinds[0], 0);
    EXPECT_GT(kinds[2], 0);
    EXPECT_EQ(kinds[1] > 0, std::string(c.name) == "Aggregated");

    const auto frames = client.sink.Frames();
    ASSERT_EQ(frames.size(), units.size());
    Bytes8 delivered;
    for (std::size_t i = 0; i < units.size(); ++i) {
        SCOPED_TRACE(i);
        // Every unit of the source comes out in its order, the withheld sets put back in front
        // of the IRAP pictures.
        Bytes8 expected;
        for (const Bytes8& nal : units[i]) {
            expected.insert(expected.end(), kStart.begin(), kStart.end());
            expected.insert(expected.end(), nal.begin(), nal.end());
        }
        EXPECT_EQ(frames[i].bytes, expected);
        const bool irap = H265Type(units[i][1]) == 32;
        EXPECT_EQ(frames[i].fourcc, irap ? kFourCCH265 : kFourCCI265);
        EXPECT_EQ(frames[i].width, 320U);
        EXPECT_EQ(frames[i].height, 240U);
        delivered.insert(delivered.end(), frames[i].bytes.begin(), frames[i].bytes.end());
    }
    EXPECT_EQ(driver.allocator.Outstanding(), 0U);

    ExpectSamePictures(stream, delivered, "hevc", 20U);
}

INSTANTIATE_TEST_SUITE_P(
        Rtph265pay, GoldenH265,
        ::testing::Values(H265Case{"Single", "h265_320x240_rtph265pay.rtp", false},
                          H265Case{"Aggregated", "h265_320x240_rtph265pay_aggregated.rtp", false},
                          H265Case{"SetsOutOfBand", "h265_320x240_rtph265pay.rtp", true}),
        [](const auto& param) { return std::string(param.param.name); });

struct JpegCase {
    const char* name;
    const char* file;
    std::uint8_t q;
    bool tablesOnlyFirst; // Q 128 to 254: tables with the first picture, length 0 afterwards
};

void PrintTo(const JpegCase& c, std::ostream* os) {
    *os << c.name;
}

class GoldenJpeg : public ::testing::TestWithParam<JpegCase> {};

TEST_P(GoldenJpeg, PicturesDecodeToTheSourcePixels) {
    const JpegCase& c = GetParam();
    const Bytes8 file = ReadData(c.file);
    ASSERT_FALSE(file.empty());
    const auto pictures = test::SplitJpegPictures(file);
    ASSERT_EQ(pictures.size(), 5U);

    FakeDriver driver;
    FakeParserClient client;
    CJpegRTPMediaParser parser(&driver, "Vantrel");
    parser.SetClient(&client);
    Feeder feeder;
    std::vector<test::JpegPicture> parsed;
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        const auto picture = test::ParseJpegPicture(pictures[i]);
        ASSERT_TRUE(picture.has_value());
        if (c.q < 128) { // the clip is made with the tables of this Q
            QuantTable luma{};
            QuantTable chroma{};
            MakeQuantTables(c.q, luma, chroma);
            ASSERT_EQ(picture->luma, luma);
            ASSERT_EQ(picture->chroma, chroma);
        }
        const bool tables = !c.tablesOnlyFirst || i == 0;
        const auto packets = test::PacketizeJpeg(*picture, c.q, tables, kMtu);
        EXPECT_GT(packets.size(), 1U);
        feeder.Feed(parser, packets);
        parsed.push_back(*picture);
    }

    const auto frames = client.sink.Frames();
    ASSERT_EQ(frames.size(), pictures.size());
    Bytes8 rebuilt;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(i);
        const Bytes8& bytes = frames[i].bytes;
        EXPECT_EQ(frames[i].fourcc, kFourCCJpeg);
        EXPECT_EQ(frames[i].width, 320U);
        EXPECT_EQ(frames[i].height, 240U);
        // The scan data is carried over untouched and the picture ends the file.
        const Bytes8& scan = parsed[i].scan;
        ASSERT_GT(bytes.size(), scan.size() + 2);
        EXPECT_TRUE(std::equal(scan.begin(), scan.end(),
                               bytes.end() - 2 - static_cast<std::ptrdiff_t>(scan.size())));
        EXPECT_EQ(Bytes8(bytes.end() - 2, bytes.end()), (Bytes8{0xFF, 0xD9}));
        rebuilt.insert(rebuilt.end(), bytes.begin(), bytes.end());
    }
    if (!HaveFfmpeg()) {
        GTEST_SKIP() << "ffmpeg is not installed: the decode comparison was skipped "
                        "(the scan data checks above ran)";
    }
    const auto sourcePixels = Decode(file, "mjpeg");
    const auto rebuiltPixels = Decode(rebuilt, "mjpeg");
    ASSERT_TRUE(sourcePixels && rebuiltPixels);
    EXPECT_EQ(sourcePixels->size(), 5U * 320 * 240 * 3 / 2);
    EXPECT_TRUE(*sourcePixels == *rebuiltPixels) << "rebuilt pictures decode to other pixels";
}

INSTANTIATE_TEST_SUITE_P(
        Clips, GoldenJpeg,
        ::testing::Values(JpegCase{"Q76", "jpeg_320x240_q76.mjpeg", 76, false},
                          JpegCase{"Q255Tables", "jpeg_320x240_q76.mjpeg", 255, false},
                          JpegCase{"Q200TablesOnce", "jpeg_320x240_q76.mjpeg", 200, true},
                          JpegCase{"RestartQ76", "jpeg_320x240_q76_restart.mjpeg", 76, false},
                          JpegCase{"RestartQ255Tables", "jpeg_320x240_q76_restart.mjpeg", 255,
                                   false}),
        [](const auto& param) { return std::string(param.param.name); });

} // namespace
} // namespace norvane
