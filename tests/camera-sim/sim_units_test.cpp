// Pure parts of the simulated camera: hashes, encodings, media splitting and the packetizers. The
// packetizer tests rebuild the media with an independent reading of RFC 6184 and RFC 2435.
#include <gtest/gtest.h>

#include "sim_internal.h"
#include "sim_media.h"
#include "sim_packetizer.h"
#include "sim_test_client.h"
#include "sim_text.h"

namespace norvane::sim {
namespace {

TEST(SimText, Md5MatchesRfc1321TestSuite) {
    const std::pair<const char*, const char*> cases[] = {
            {"", "d41d8cd98f00b204e9800998ecf8427e"},
            {"a", "0cc175b9c0f1b6a831c399e269772661"},
            {"abc", "900150983cd24fb0d6963f7d28e17f72"},
            {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
            {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
            {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
             "d174ab98d277d9f5a5611c2c9f419d9f"},
            {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
             "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& [input, digest] : cases) {
        EXPECT_EQ(Md5Hex(input), digest) << input;
    }
}

TEST(SimText, Base64RoundTripsAndRejectsForeignCharacters) {
    const std::pair<const char*, const char*> cases[] = {{"", ""},
                                                         {"f", "Zg=="},
                                                         {"fo", "Zm8="},
                                                         {"foo", "Zm9v"},
                                                         {"admin:admin", "YWRtaW46YWRtaW4="}};
    for (const auto& [plain, encoded] : cases) {
        EXPECT_EQ(Base64Encode(std::string_view(plain)), encoded);
        const auto decoded = Base64Decode(encoded);
        ASSERT_TRUE(decoded);
        EXPECT_EQ(std::string(decoded->begin(), decoded->end()), plain);
    }
    EXPECT_FALSE(Base64Decode("Zm9v!"));
    EXPECT_FALSE(Base64Decode("Z"));
}

TEST(SimText, AuthParamsReadQuotedStringsWithCommasAndEscapes) {
    const auto params = ParseAuthParams(
            R"(username="a\"b", realm="IP Camera(C1214), x", nonce=abc, qop=auth, nc=00000001)");
    ASSERT_TRUE(params);
    ASSERT_EQ(params->size(), 5U);
    EXPECT_EQ((*params)[0], (std::pair<std::string, std::string>("username", "a\"b")));
    EXPECT_EQ((*params)[1].second, "IP Camera(C1214), x");
    EXPECT_EQ((*params)[2].second, "abc");
    EXPECT_EQ((*params)[4].second, "00000001");
    EXPECT_FALSE(ParseAuthParams(R"(realm="unterminated)"));
    EXPECT_FALSE(ParseAuthParams("realm"));
}

TEST(SimText, QueryDecodesEscapesAndRefusesBrokenOnes) {
    const auto query = ParseQuery("vtl_api=set&in_text=ALARM%201&empty=&x=a+b");
    ASSERT_TRUE(query);
    ASSERT_EQ(query->size(), 4U);
    EXPECT_EQ((*query)[1].second, "ALARM 1");
    EXPECT_EQ((*query)[2].second, "");
    EXPECT_EQ((*query)[3].second, "a b");
    EXPECT_FALSE(ParseQuery("a=%2"));
    EXPECT_FALSE(ParseQuery("a=%zz"));
}

TEST(SimText, MessageHeadAcceptsLoneLineFeedsAndFindsTheEnd) {
    const std::string text = "GET / HTTP/1.1\nHost: x\r\nX-A:  v \n\nrest";
    const std::size_t end = FindHeadEnd(text);
    EXPECT_EQ(text.substr(end), "rest");
    const auto head = ParseMessageHead(std::string_view(text).substr(0, end));
    ASSERT_TRUE(head);
    EXPECT_EQ(head->startLine, "GET / HTTP/1.1");
    EXPECT_EQ(head->Header("x-a"), "v");
    EXPECT_EQ(FindHeadEnd("GET / HTTP/1.1\r\nHost: x\r\n"), 0U);
    EXPECT_FALSE(ParseMessageHead("GET / HTTP/1.1\r\nno colon\r\n\r\n"));
}

TEST(SimText, DecimalsKeepOneDigitOnlyWhenNeeded) {
    const std::pair<double, const char*> cases[] = {{25.0, "25"}, {12.5, "12.5"}, {8.3, "8.3"},
                                                    {7.5, "7.5"}, {0.96, "1"},    {1.04, "1"}};
    for (const auto& [value, text] : cases) {
        EXPECT_EQ(FormatDecimal(value), text) << value;
    }
}

TEST(SimSession, ExpiresOnlyAfterItsTimeOutAndNeverWhenRefreshedAfterTheClockWasRead) {
    struct Case {
        std::uint64_t now;
        std::uint64_t lastActivity;
        std::uint32_t timeoutSec;
        bool expired;
    };

    const Case cases[] = {
            {70000, 10000, 60, false}, // exactly the time-out: still alive
            {70001, 10000, 60, true},
            {10000, 10000, 60, false},
            // A request refreshed the session between reading the clock and checking it.
            {10000, 10001, 60, false},
            {10000, 10000 + 3600000, 1, false},
            {0, 0, 0, false},
            {1, 0, 0, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SessionIdleTooLong(c.now, c.lastActivity, c.timeoutSec), c.expired)
                << c.now << " " << c.lastActivity << " " << c.timeoutSec;
    }
}

TEST(SimMedia, EmbeddedH264ClipsSplitIntoAccessUnitsWithParameterSets) {
    for (const auto& clip : {EmbeddedH264_640x480(), EmbeddedH264_1280x720()}) {
        ASSERT_TRUE(clip);
        EXPECT_EQ(clip->accessUnits.size(), 75U); // 3 s at 25 frames per second
        EXPECT_EQ(clip->sps[0] & 0x1F, 7);
        EXPECT_EQ(clip->pps[0] & 0x1F, 8);
        std::size_t idr = 0;
        for (const auto& unit : clip->accessUnits) {
            std::size_t pictures = 0;
            for (const auto& nal : unit.nalUnits) {
                pictures += (nal[0] & 0x1F) == 1 || (nal[0] & 0x1F) == 5;
                idr += (nal[0] & 0x1F) == 5;
                EXPECT_NE(nal.back(), 0) << "trailing zero bytes belong to no NAL unit";
            }
            EXPECT_EQ(pictures, 1U);
        }
        EXPECT_EQ(idr, 3U); // one key frame per second
    }
}

TEST(SimMedia, AnnexBSplitsAtFirstSliceOfEachPicture) {
    // SPS, PPS, two slices of one picture (second has first_mb_in_slice != 0), then a new picture.
    const std::vector<std::uint8_t> stream = {0,    0, 0, 1, 0x67, 0x42, 0, 0, 1, 0x68,
                                              0xCE, 0, 0, 1, 0x65, 0x88, 0, 0, 1, 0x65,
                                              0x40, 0, 0, 1, 0x41, 0x9A, 0, 0};
    std::string error;
    const auto clip = ParseAnnexB(stream, &error);
    ASSERT_TRUE(clip) << error;
    ASSERT_EQ(clip->accessUnits.size(), 2U);
    EXPECT_EQ(clip->accessUnits[0].nalUnits.size(), 4U);
    EXPECT_EQ(clip->accessUnits[1].nalUnits,
              (std::vector<std::vector<std::uint8_t>>{{0x41, 0x9A}}));
    EXPECT_FALSE(ParseAnnexB(std::vector<std::uint8_t>{0, 0, 1, 0x41, 0x9A}, &error));
}

TEST(SimMedia, EmbeddedJpegClipUsesStandardTablesOfQ40) {
    const auto clip = EmbeddedMjpeg_704x576();
    ASSERT_TRUE(clip);
    ASSERT_EQ(clip->pictures.size(), 10U);
    for (const auto& picture : clip->pictures) {
        EXPECT_EQ(picture.type, 1); // 4:2:0
        EXPECT_EQ(picture.width, 704);
        EXPECT_EQ(picture.height, 576);
        EXPECT_EQ(picture.standardQ, 40);
        EXPECT_EQ(picture.restartInterval, 0);
        ASSERT_GE(picture.file.size(), 2U);
        EXPECT_EQ(picture.file[picture.file.size() - 1], 0xD9);
    }
    // RFC 2435 Appendix A: Q = 50 gives the JPEG standard tables unscaled.
    std::array<std::uint8_t, 64> luma{};
    std::array<std::uint8_t, 64> chroma{};
    RfcQuantTables(50, luma, chroma);
    EXPECT_EQ(luma[0], 16);
    EXPECT_EQ(luma[1], 11);
    EXPECT_EQ(chroma[0], 17);
    RfcQuantTables(1, luma, chroma);
    EXPECT_EQ(luma[63], 255); // clamped
}

TEST(SimMedia, MjpegRejectsPicturesThatRtpJpegCannotCarry) {
    std::vector<std::uint8_t> picture = EmbeddedMjpeg_704x576()->pictures[0].file;
    std::string error;
    // Find SOF0 and turn it into a progressive SOF2.
    for (std::size_t i = 0; i + 1 < picture.size(); ++i) {
        if (picture[i] == 0xFF && picture[i + 1] == 0xC0) {
            picture[i + 1] = 0xC2;
            break;
        }
    }
    EXPECT_FALSE(ParseMjpeg(picture, &error));
    EXPECT_NE(error.find("progressive"), std::string::npos);
    EXPECT_FALSE(ParseMjpeg(std::vector<std::uint8_t>{0xFF, 0xD8, 0xFF}, &error));
}

std::vector<std::vector<std::uint8_t>> Depacketize(const std::vector<RtpPayload>& payloads) {
    std::vector<std::vector<std::uint8_t>> data;
    for (const auto& payload : payloads) {
        data.push_back(payload.data);
    }
    return test::RebuildNals(data);
}

TEST(SimPacketizer, H264PayloadsRebuildEveryAccessUnitWithinTheMtu) {
    const auto clip = EmbeddedH264_640x480();
    for (const std::size_t maxPayload : {100U, 500U, 1388U, 60000U}) {
        std::size_t staps = 0;
        std::size_t fragments = 0;
        for (const auto& unit : clip->accessUnits) {
            const auto payloads = PacketizeH264(unit, maxPayload);
            ASSERT_FALSE(payloads.empty());
            for (std::size_t i = 0; i < payloads.size(); ++i) {
                EXPECT_LE(payloads[i].data.size(), maxPayload);
                EXPECT_EQ(payloads[i].marker, i + 1 == payloads.size());
                staps += (payloads[i].data[0] & 0x1F) == 24;
                fragments += (payloads[i].data[0] & 0x1F) == 28;
            }
            EXPECT_EQ(Depacketize(payloads), unit.nalUnits) << "payload limit " << maxPayload;
        }
        EXPECT_EQ(staps, 3U) << "SPS and PPS of each key frame travel in one STAP-A";
        if (maxPayload < 2000) {
            EXPECT_GT(fragments, 0U);
        } else {
            EXPECT_EQ(fragments, 0U);
        }
    }
}

TEST(SimPacketizer, FuAHeadersCarryStartEndAndTheOriginalNalHeader) {
    H264AccessUnit unit;
    std::vector<std::uint8_t> slice(1000, 0xAB);
    slice[0] = 0x65; // NRI 3, IDR
    unit.nalUnits.push_back(slice);
    const auto payloads = PacketizeH264(unit, 300);
    ASSERT_EQ(payloads.size(), 4U);       // 999 bytes in pieces of 298
    EXPECT_EQ(payloads[0].data[0], 0x7C); // NRI 3, type 28
    EXPECT_EQ(payloads[0].data[1], 0x85); // S, type 5
    EXPECT_EQ(payloads[1].data[1], 0x05);
    EXPECT_EQ(payloads[3].data[1], 0x45); // E, type 5
    EXPECT_EQ(payloads[3].data.size(), 2U + 999U - 3U * 298U);
}

TEST(SimPacketizer, JpegPayloadsCarryHeadersAndTheWholeScan) {
    const JpegPicture& picture = EmbeddedMjpeg_704x576()->pictures[0];

    struct Case {
        bool inBand;
        std::uint8_t q;
    };

    for (const Case c : {Case{false, 40}, Case{true, 255}}) {
        const auto payloads = PacketizeJpeg(picture, 1388, c.inBand);
        std::vector<std::uint8_t> scan;
        for (std::size_t i = 0; i < payloads.size(); ++i) {
            const auto& p = payloads[i].data;
            ASSERT_LE(p.size(), 1388U);
            const std::size_t offset = (static_cast<std::size_t>(p[1]) << 16) |
                                       (static_cast<std::size_t>(p[2]) << 8) | p[3];
            EXPECT_EQ(offset, scan.size());
            EXPECT_EQ(p[4], 1);
            EXPECT_EQ(p[5], c.q);
            EXPECT_EQ(p[6], 88); // 704 / 8
            EXPECT_EQ(p[7], 72); // 576 / 8
            std::size_t data = 8;
            if (i == 0 && c.q >= 128) {
                EXPECT_EQ(p[8], 0);
                EXPECT_EQ(p[9], 0);
                EXPECT_EQ((p[10] << 8) | p[11], 128);
                EXPECT_TRUE(std::equal(picture.lumaTable.begin(), picture.lumaTable.end(),
                                       p.begin() + 12));
                EXPECT_TRUE(std::equal(picture.chromaTable.begin(), picture.chromaTable.end(),
                                       p.begin() + 76));
                data = 140;
            }
            scan.insert(scan.end(), p.begin() + static_cast<std::ptrdiff_t>(data), p.end());
            EXPECT_EQ(payloads[i].marker, i + 1 == payloads.size());
        }
        EXPECT_EQ(scan, picture.scan);
    }
}

TEST(SimPacketizer, JpegWithRestartIntervalSendsType65AndTheRestartHeader) {
    JpegPicture picture = EmbeddedMjpeg_704x576()->pictures[0];
    picture.restartInterval = 44;
    picture.type = 65;
    const auto payloads = PacketizeJpeg(picture, 1000, false);
    ASSERT_GT(payloads.size(), 1U);
    for (const auto& payload : payloads) {
        const auto& p = payload.data;
        EXPECT_EQ(p[4], 65);
        EXPECT_EQ((p[8] << 8) | p[9], 44);
        EXPECT_EQ(p[10], 0xFF); // F = 1, L = 1, count 0x3FFF
        EXPECT_EQ(p[11], 0xFF);
    }
}

TEST(SimPacketizer, RtcpSenderReportIsACompoundOfSrAndSdes) {
    const auto packet = BuildSenderReport(0x11223344, 0x0102030405060708ULL, 90000, 7, 1234, "cam");
    ASSERT_EQ(packet.size(), 28U + 4U + 12U); // SR, SDES header, chunk of 4 + 2 + 3 + 1 -> 12
    EXPECT_EQ(packet[0], 0x80);
    EXPECT_EQ(packet[1], 200);
    EXPECT_EQ((packet[2] << 8) | packet[3], 6);
    EXPECT_EQ(packet[4], 0x11);
    EXPECT_EQ(packet[8], 0x01);  // NTP seconds, most significant byte
    EXPECT_EQ(packet[15], 0x08); // NTP fraction, least significant byte
    EXPECT_EQ(packet[23], 7);    // packet count
    EXPECT_EQ(packet[28], 0x81);
    EXPECT_EQ(packet[29], 202);
    EXPECT_EQ((packet[30] << 8) | packet[31], 3);
    EXPECT_EQ(packet[36], 1); // CNAME
    EXPECT_EQ(packet[37], 3);
    EXPECT_EQ(std::string(packet.begin() + 38, packet.begin() + 41), "cam");
    EXPECT_EQ(packet[41], 0); // end of items
}

} // namespace
} // namespace norvane::sim
