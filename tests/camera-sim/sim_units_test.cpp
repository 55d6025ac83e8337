// Pure parts of the simulated camera: its command line, hashes, encodings, media splitting and
// the packetizers. The packetizer tests rebuild the media with an independent reading of RFC 6184
// and RFC 2435.
#include <cstdio>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "camera_sim.h"
#include "sim_media.h"
#include "sim_options.h"
#include "sim_packetizer.h"
#include "sim_rtsp.h"
#include "sim_test_client.h"
#include "sim_text.h"

namespace norvane::sim {
namespace {

// Words splits a command line at its blanks.
std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    return words;
}

TEST(SimOptions, EveryOptionReachesTheConfiguration) {
    const SimOptionsResult r = ParseSimOptions(Words(
            "--address 0.0.0.0 --http-port 8080 --rtsp-port 8554 --user u --password pw "
            "--http-auth digest --rtsp-auth basic --http-qop off --rtsp-qop on --realm R "
            "--session-timeout 30 --run-for 5 --alarm-period 2 --verbose "
            "--h264 a.h264 --mjpeg b.mjpeg --size 1280x720 --fps 12.5 --mtu 64 --jpeg-tables --aud "
            "--ntsc --seed 4294967295 "
            "--stop-media --drop 0.25 --reorder 0.5 --duplicate 1 --http-401 --rtsp-401 "
            "--refuse-cgi get_setup.video.codec=500 --close-rtsp --split-replies 7:0 "
            "--reply-delay 60000 --short-timeout 86400 --alternate-source --block-udp --udp-only "
            "--tcp-only"));
    ASSERT_EQ(r.error, "");
    const SimOptions& o = r.options;
    const CameraSimConfig& c = o.config;
    EXPECT_FALSE(o.help);
    EXPECT_EQ(c.bindAddress, "0.0.0.0");
    EXPECT_EQ(c.httpPort, 8080);
    EXPECT_EQ(c.rtspPort, 8554);
    EXPECT_EQ(c.user, "u");
    EXPECT_EQ(c.password, "pw");
    EXPECT_EQ(c.httpAuth, AuthMode::Digest);
    EXPECT_EQ(c.rtspAuth, AuthMode::Basic);
    EXPECT_FALSE(c.httpDigestQop);
    EXPECT_TRUE(c.rtspDigestQop);
    EXPECT_EQ(c.realm, "R");
    EXPECT_EQ(c.sessionTimeoutSec, 30U);
    EXPECT_EQ(o.runForSec, 5U);
    EXPECT_EQ(o.alarmPeriodSec, 2U);
    EXPECT_TRUE(o.verbose);
    EXPECT_EQ(c.h264File, "a.h264");
    EXPECT_EQ(c.mjpegFile, "b.mjpeg");
    EXPECT_EQ(c.width, 1280U);
    EXPECT_EQ(c.height, 720U);
    EXPECT_DOUBLE_EQ(c.fps, 12.5);
    EXPECT_EQ(c.mtu, 64U);
    EXPECT_TRUE(c.jpegInBandTables);
    EXPECT_TRUE(c.h264AccessUnitDelimiters);
    EXPECT_EQ(c.ffMode, 60U);
    EXPECT_EQ(c.seed, 4294967295U);
    EXPECT_TRUE(c.faults.stopMedia);
    EXPECT_DOUBLE_EQ(c.faults.dropShare, 0.25);
    EXPECT_DOUBLE_EQ(c.faults.reorderShare, 0.5);
    EXPECT_DOUBLE_EQ(c.faults.duplicateShare, 1.0);
    EXPECT_TRUE(c.faults.httpAlways401);
    EXPECT_TRUE(c.faults.rtspAlways401);
    EXPECT_EQ(c.faults.refusedCgi,
              (std::map<std::string, std::string>{{"get_setup.video.codec", "500"}}));
    EXPECT_TRUE(c.faults.closeRtspConnection);
    EXPECT_EQ(c.faults.splitReplyBytes, 7U);
    EXPECT_EQ(c.faults.splitDelayMs, 0U);
    EXPECT_EQ(c.faults.replyDelayMs, 60000U);
    EXPECT_EQ(c.faults.sessionTimeoutSec, 86400U);
    EXPECT_TRUE(c.faults.alternateSource);
    EXPECT_TRUE(c.faults.blockUdpMedia);
    EXPECT_TRUE(c.faults.refuseInterleaved);
    EXPECT_TRUE(c.faults.refuseUdp);
}

TEST(SimOptions, SharedOptionsDefaultsAndHelp) {
    SimOptionsResult r = ParseSimOptions({});
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.options.config.bindAddress, "127.0.0.1");
    EXPECT_EQ(r.options.runForSec, 0U);
    r = ParseSimOptions({"--auth", "digest"});
    EXPECT_EQ(r.options.config.httpAuth, AuthMode::Digest);
    EXPECT_EQ(r.options.config.rtspAuth, AuthMode::Digest);
    r = ParseSimOptions({"--auth", "basic", "--rtsp-auth", "none"}); // the later option wins
    EXPECT_EQ(r.options.config.httpAuth, AuthMode::Basic);
    EXPECT_EQ(r.options.config.rtspAuth, AuthMode::None);
    r = ParseSimOptions({"--always-401"});
    EXPECT_TRUE(r.options.config.faults.httpAlways401 && r.options.config.faults.rtspAlways401);
    r = ParseSimOptions({"--split-replies", "10", "--refuse-cgi", "f", "--refuse-cgi", "g=0x8"});
    EXPECT_EQ(r.options.config.faults.splitReplyBytes, 10U);
    EXPECT_EQ(r.options.config.faults.splitDelayMs, 100U);
    EXPECT_EQ(r.options.config.faults.refusedCgi,
              (std::map<std::string, std::string>{{"f", "0x80000002"}, {"g", "0x8"}}));
    // A value is taken as it is, even when it looks like an option.
    EXPECT_EQ(ParseSimOptions({"--user", "--help"}).options.config.user, "--help");
    // --help ends the reading: a bad argument after it is not seen.
    for (const char* help : {"--help", "-h"}) {
        r = ParseSimOptions({"--fps", "30", help, "--bogus"});
        EXPECT_EQ(r.error, "") << help;
        EXPECT_TRUE(r.options.help) << help;
    }
    EXPECT_NE(std::string(SimUsageText()).find("--alternate-source"), std::string::npos);
}

TEST(SimOptions, BadArgumentsAreRefusedWithAClearMessage) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
            {{"--bogus"}, "unknown option --bogus"},
            {{"--bogus", "1"}, "unknown option --bogus"},
            {{"stray"}, "unknown option stray"},
            {{"--verbose", "--http-port"}, "option --http-port needs a value"},
            {{"--user"}, "option --user needs a value"},
            {{"--http-port", "65536"}, "bad port: 65536"},
            {{"--rtsp-port", "-1"}, "bad port: -1"},
            {{"--http-port", "12345678901"}, "bad port: 12345678901"},
            {{"--auth", "kerberos"}, "bad authentication mode (none, basic or digest): kerberos"},
            {{"--http-auth", "Basic"}, "bad authentication mode (none, basic or digest): Basic"},
            {{"--rtsp-auth", ""}, "bad authentication mode (none, basic or digest): "},
            {{"--http-qop", "yes"}, "--http-qop takes on or off"},
            {{"--rtsp-qop", "1"}, "--rtsp-qop takes on or off"},
            {{"--session-timeout", "0"}, "bad time-out in seconds: 0"},
            {{"--short-timeout", "86401"}, "bad time-out in seconds: 86401"},
            {{"--run-for", "0"}, "bad duration in seconds: 0"},
            {{"--alarm-period", "x"}, "bad alarm period in seconds: x"},
            {{"--size", "640"}, "bad size (WxH): 640"},
            {{"--size", "640x"}, "bad size (WxH): 640x"},
            {{"--size", "x480"}, "bad size (WxH): x480"},
            {{"--size", "15x480"}, "bad size (WxH): 15x480"},
            {{"--size", "4097x480"}, "bad size (WxH): 4097x480"},
            {{"--size", "640X480"}, "bad size (WxH): 640X480"},
            {{"--fps", "0"}, "bad frame rate (above 0, at most 60): 0"},
            {{"--fps", "60.5"}, "bad frame rate (above 0, at most 60): 60.5"},
            {{"--fps", "25fps"}, "bad frame rate (above 0, at most 60): 25fps"},
            {{"--mtu", "63"}, "bad MTU (64..65000): 63"},
            {{"--mtu", "65001"}, "bad MTU (64..65000): 65001"},
            {{"--seed", "4294967296"}, "bad seed: 4294967296"},
            {{"--drop", "1.5"}, "bad share (0..1): 1.5"},
            {{"--reorder", "-0.1"}, "bad share (0..1): -0.1"},
            {{"--duplicate", ""}, "bad share (0..1): "},
            {{"--split-replies", "0"}, "bad split (BYTES[:MS]): 0"},
            {{"--split-replies", "10:60001"}, "bad split (BYTES[:MS]): 10:60001"},
            {{"--split-replies", ":5"}, "bad split (BYTES[:MS]): :5"},
            {{"--reply-delay", "60001"}, "bad delay in ms: 60001"},
    };
    for (const auto& [arguments, message] : cases) {
        EXPECT_EQ(ParseSimOptions(arguments).error, message) << arguments[0];
    }
}

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

    // Optimised Huffman tables (ffmpeg's default): the last symbol of the first DHT changed.
    picture = EmbeddedMjpeg_704x576()->pictures[0].file;
    bool changed = false;
    for (std::size_t i = 0; i + 4 < picture.size() && !changed; ++i) {
        if (picture[i] == 0xFF && picture[i + 1] == 0xC4) {
            const std::size_t end = i + 2 + ((picture[i + 2] << 8) | picture[i + 3]);
            picture[end - 1] ^= 0x01;
            changed = true;
        }
    }
    ASSERT_TRUE(changed) << "the embedded picture carries its Huffman tables";
    EXPECT_FALSE(ParseMjpeg(picture, &error));
    EXPECT_NE(error.find("Huffman tables other than the standard ones"), std::string::npos);
    // A camera given such a clip refuses to start and says how to make a suitable one.
    const std::string path = test::UniqueTempPath("optimised.mjpeg");
    std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(picture.data()),
                   static_cast<std::streamsize>(picture.size()));
    CameraSimConfig config;
    config.mjpegFile = path;
    CCameraSim camera(config);
    EXPECT_FALSE(camera.Start(&error));
    EXPECT_NE(error.find("Huffman"), std::string::npos) << error;
    EXPECT_NE(error.find("ffmpeg -i INPUT -an -c:v mjpeg -huffman default"), std::string::npos);
    std::remove(path.c_str());
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
