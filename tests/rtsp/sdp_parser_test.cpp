#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "rtsp/sdp_parser.h"

namespace norvane {
namespace {

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<std::uint8_t> bytes;
    for (const int v : values) {
        bytes.push_back(static_cast<std::uint8_t>(v));
    }
    return bytes;
}

TEST(ParseSessionDescription, ControlsAndParameterSets) {
    struct Case {
        const char* name;
        const char* sdp;
        bool ok;
        const char* video;
        const char* audio;
        const char* metadata;
        std::vector<std::uint8_t> sps;
        std::vector<std::uint8_t> pps;
    };

    const auto sps = Bytes({0x67, 0x42, 0x00, 0x1e, 0x95, 0xa8, 0x2d, 0x04, 0x99});
    const auto pps = Bytes({0x68, 0xce, 0x31, 0x52});
    const Case cases[] = {
            {"VideoControl",
             "v=0\r\na=control:*\r\nm=video 0 RTP/AVP 96\r\na=control:trackID=1\r\n",
             true,
             "trackID=1",
             "",
             "",
             {},
             {}},
            {"BlankAfterColon",
             "m=video 0 RTP/AVP 96\r\na=control: trackID=1\r\n",
             true,
             "trackID=1",
             "",
             "",
             {},
             {}},
            {"Star", "m=video 0 RTP/AVP 96\r\na=control:*\r\n", true, "*", "", "", {}, {}},
            {"AllMedia",
             "m=video 0 RTP/AVP 96\na=control:v\nm=audio 0 RTP/AVP 0\na=control:a\n"
             "m=metadata 0 RTP/AVP 107\na=control:m\nm=application 0 RTP/AVP 98\na=control:x\n",
             true,
             "v",
             "a",
             "m",
             {},
             {}},
            {"AbsoluteControl",
             "m=video 0 RTP/AVP 96\r\na=control:rtsp://10.0.0.5/main/track1\r\n",
             true,
             "rtsp://10.0.0.5/main/track1",
             "",
             "",
             {},
             {}},
            {"WrongCaseControl",
             "m=video 0 RTP/AVP 96\r\na=Control:trackID=1\r\n",
             false,
             "",
             "",
             "",
             {},
             {}},
            {"ControlWithoutValue",
             "m=video 0 RTP/AVP 96\r\na=control:\r\n",
             false,
             "",
             "",
             "",
             {},
             {}},
            {"ParameterSets",
             "m=video 0 RTP/AVP 96\r\na=fmtp:96 packetization-mode=1;"
             "sprop-parameter-sets=Z0IAHpWoLQSZ,aM4xUg==\r\n",
             true, "", "", "", sps, pps},
            {"ParametersAfterSetsStayOut",
             "m=video 0 RTP/AVP 96\r\na=fmtp:96 sprop-parameter-sets=Z0IAHpWoLQSZ,aM4xUg==;"
             "profile-level-id=42001e\r\n",
             true, "", "", "", sps, pps},
            {"BlankEndsSets",
             "a=fmtp:96 sprop-parameter-sets=Z0IAHpWoLQSZ,aM4xUg== profile-level-id=42001e\n", true,
             "", "", "", sps, pps},
            {"OneEntry",
             "a=fmtp:96 sprop-parameter-sets=Z0IAHpWoLQSZ\r\n",
             true,
             "",
             "",
             "",
             {},
             {}},
            {"EmptyFirst",
             "a=fmtp:96 sprop-parameter-sets=,aM4xUg==\r\n",
             true,
             "",
             "",
             "",
             {},
             {}},
            {"Empty", "", true, "", "", "", {}, {}},
    };
    for (const Case& c : cases) {
        SessionDescription description;
        EXPECT_EQ(ParseSessionDescription(c.sdp, description), c.ok) << c.name;
        EXPECT_EQ(description.videoControl.value_or(""), c.video) << c.name;
        EXPECT_EQ(description.audioControl.value_or(""), c.audio) << c.name;
        EXPECT_EQ(description.metadataControl.value_or(""), c.metadata) << c.name;
        EXPECT_EQ(description.sps, c.sps) << c.name;
        EXPECT_EQ(description.pps, c.pps) << c.name;
    }
}

TEST(ParseSessionDescription, SecondFmtpAppendsAndOversizedSetIsDropped) {
    SessionDescription description;
    ASSERT_TRUE(ParseSessionDescription("a=fmtp:96 sprop-parameter-sets=AAEC,AwQF\r\n"
                                        "a=fmtp:96 sprop-parameter-sets=Bgc=,CA==\r\n",
                                        description));
    EXPECT_EQ(description.sps, Bytes({0, 1, 2, 6, 7}));
    EXPECT_EQ(description.pps, Bytes({3, 4, 5, 8}));

    SessionDescription big;
    const std::string tooLong(344, 'A'); // 258 bytes
    ASSERT_TRUE(ParseSessionDescription("a=fmtp:96 sprop-parameter-sets=" + tooLong + ",AwQF\r\n",
                                        big));
    EXPECT_TRUE(big.sps.empty());
    EXPECT_EQ(big.pps, Bytes({3, 4, 5}));
}

// The generic reader gives every parameter, so codecs other than H.264 read theirs the same way.
TEST(ParseFmtp, ReadsEveryParameterInOrder) {
    const FmtpParameters fmtp =
            ParseFmtp("a=fmtp:96 profile-id=1; sprop-vps=QAEM,AAA=;sprop-sps=QgEB flag\t"
                      "sprop-pps=RAHA;");
    EXPECT_EQ(fmtp.format, "96");
    const std::vector<std::pair<std::string, std::string>> expected = {
            {"profile-id", "1"}, {"sprop-vps", "QAEM,AAA="}, {"sprop-sps", "QgEB"},
            {"flag", ""},        {"sprop-pps", "RAHA"},
    };
    EXPECT_EQ(fmtp.parameters, expected);
    EXPECT_EQ(fmtp.Value("sprop-vps"), "QAEM,AAA=");
    EXPECT_FALSE(fmtp.Value("SPROP-VPS").has_value());
    EXPECT_TRUE(ParseFmtp("a=fmtp:").parameters.empty());
    EXPECT_EQ(ParseFmtp("a=fmtp:97").format, "97");
}

TEST(ParseSessionDescription, PacketizationModeComesFromFmtp) {
    struct Case {
        const char* sdp;
        std::optional<std::uint32_t> mode;
    };

    const Case cases[] = {
            {"a=fmtp:96 packetization-mode=1;sprop-parameter-sets=Z0IAHpWoLQSZ,aM4xUg==\r\n", 1},
            {"a=fmtp:96 profile-level-id=42001e; packetization-mode=0\r\n", 0},
            {"a=fmtp:96 packetization-mode=x\r\n", std::nullopt},
            {"a=fmtp:96 profile-level-id=42001e\r\n", std::nullopt},
    };
    for (const Case& c : cases) {
        SessionDescription description;
        ASSERT_TRUE(ParseSessionDescription(c.sdp, description)) << c.sdp;
        EXPECT_EQ(description.packetizationMode, c.mode) << c.sdp;
    }
}

TEST(ParseSessionDescription, H265ParameterSetsAndDecodingOrderNumbers) {
    struct Case {
        const char* fmtp;
        bool h265;
        std::vector<std::uint8_t> vps, sps, pps;
        bool decodingOrderNumbers;
    };

    const Case cases[] = {
            // Only the first set of a list is taken.
            {"a=fmtp:96 sprop-vps=QAEM; sprop-sps=QgEB,AAA=; sprop-pps=RAHA,RAHB", true,
             Bytes({0x40, 1, 0x0C}), Bytes({0x42, 1, 1}), Bytes({0x44, 1, 0xC0}), false},
            {"a=fmtp:96 profile-id=1;sprop-vps=QAEM;sprop-sps=QgEB;sprop-pps=RAHA;"
             "sprop-max-don-diff=0",
             true, Bytes({0x40, 1, 0x0C}), Bytes({0x42, 1, 1}), Bytes({0x44, 1, 0xC0}), false},
            {"a=fmtp:96 sprop-vps=QAEM;sprop-sps=QgEB;sprop-pps=RAHA;sprop-max-don-diff=2", true,
             Bytes({0x40, 1, 0x0C}), Bytes({0x42, 1, 1}), Bytes({0x44, 1, 0xC0}), true},
            {"a=fmtp:96 sprop-depack-buf-nalus=1", true, {}, {}, {}, true},
            {"a=fmtp:96 sprop-max-don-diff=x", true, {}, {}, {}, true},
            {"a=fmtp:96 packetization-mode=1;sprop-parameter-sets=Z0IAHpWoLQSZ,aM4xUg==",
             false,
             {},
             {},
             {},
             false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fmtp);
        SessionDescription description;
        ASSERT_TRUE(ParseSessionDescription(std::string(c.fmtp) + "\r\n", description));
        ASSERT_EQ(description.h265.has_value(), c.h265);
        if (c.h265) {
            EXPECT_EQ(description.h265->vps, c.vps);
            EXPECT_EQ(description.h265->sps, c.sps);
            EXPECT_EQ(description.h265->pps, c.pps);
            EXPECT_EQ(description.h265->decodingOrderNumbers, c.decodingOrderNumbers);
        }
    }
}

} // namespace
} // namespace norvane
