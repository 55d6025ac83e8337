#include <string>

#include <gtest/gtest.h>

#include "client_test_helpers.h"
#include "rtsp/base_rtsp_client.h"

namespace norvane {
namespace {

using test::CameraSettings;
using test::ExpectedDigestResponse;

TEST(CBaseRTSPClient, FirstDescribeIsTheBareTemplate) {
    CBaseRTSPClient client;
    client.Settings() = CameraSettings();
    client.Settings().address = "10.0.0.5";
    EXPECT_EQ(client.BuildRequest(kDescribe),
              "DESCRIBE rtsp://10.0.0.5:554/vtl_media/main RTSP/1.0\r\nCSeq: 1\r\n"
              "Accept: application/sdp\r\nUser-Agent: Norvane\r\n\r\n");
}

TEST(CBaseRTSPClient, RequestTemplates) {
    CBaseRTSPClient client;
    client.Settings() = CameraSettings();
    client.State().cseq = 7;
    client.State().session = "AbC12xY";
    client.State().videoControl = "trackID=1";
    const std::string base = "rtsp://127.0.0.1:554/vtl_media/main";
    EXPECT_EQ(client.BuildRequest(kSetup),
              "SETUP " + base +
                      "/trackID=1 RTSP/1.0\r\nCSeq: 8\r\n"
                      "Transport: RTP/AVP/UDP;unicast;client_port=3556-3557\r\nUser-Agent: "
                      "Norvane\r\n\r\n");
    EXPECT_EQ(client.BuildRequest(kPlay),
              "PLAY " + base +
                      " RTSP/1.0\r\nCSeq: 9\r\nSession: AbC12xY\r\n"
                      "Range: npt=0.000-\r\nUser-Agent: Norvane\r\n\r\n");
    EXPECT_EQ(client.BuildRequest(kOptions),
              "OPTIONS " + base +
                      " RTSP/1.0\r\nCSeq: 10\r\nSession: AbC12xY\r\nUser-Agent: Norvane\r\n\r\n");
    EXPECT_EQ(client.BuildRequest(kTeardown),
              "TEARDOWN " + base +
                      " RTSP/1.0\r\nCSeq: 11\r\nSession: AbC12xY\r\nUser-Agent: Norvane\r\n\r\n");
    EXPECT_EQ(client.BuildRequest(kPause),
              "PAUSE " + base +
                      " RTSP/1.0\r\nCSeq: 12\r\nSession: AbC12xY\r\n"
                      "Range: npt=0.000-\r\nUser-Agent: Norvane\r\n\r\n");
    EXPECT_EQ(client.BuildRequest(7), "");
    EXPECT_EQ(client.State().cseq, 13U); // an unknown method still used a number
}

TEST(CBaseRTSPClient, TrackUrlRules) {
    struct Case {
        const char* path;
        const char* control;
        std::uint32_t track;
        const char* url;
    };

    const Case cases[] = {
            {"", "trackID=1", 0, "rtsp://cam:554/trackID=1"},
            {"vtl_media/main", "trackID=1", 0, "rtsp://cam:554/vtl_media/main/trackID=1"},
            {"vtl_media/main", "*", 0, "rtsp://cam:554/vtl_media/main"},
            {"vtl_media/main", "rtsp://10.1.1.1:8554/other/track2", 0,
             "rtsp://10.1.1.1:8554/other/track2"},
            {"vtl_media/main", "RTSP://cam/x", 0, "RTSP://cam/x"},
            {"", "audio", 1, "rtsp://cam:554/audio"},
            {"p", "meta", 2, "rtsp://cam:554/p/meta"},
            {"p", "trackID=1", 3, "rtsp://cam:554/p/"},
    };
    for (const Case& c : cases) {
        CBaseRTSPClient client;
        client.Settings().address = "cam";
        client.Settings().path = c.path;
        client.Settings().track = c.track;
        client.State().videoControl = c.control;
        client.State().audioControl = c.control;
        client.State().metadataControl = c.control;
        EXPECT_EQ(client.TrackUrl(), c.url) << c.path << " " << c.control;
    }
}

TEST(CBaseRTSPClient, AuthorizationLines) {
    CBaseRTSPClient client;
    client.Settings() = CameraSettings();
    client.Settings().authScheme = kAuthBasic;
    EXPECT_NE(client.BuildRequest(kDescribe).find("\r\nAuthorization: Basic YWRtaW46c2VjcmV0\r\n"),
              std::string::npos);
    // Basic credentials beyond 72 bytes: no request, and no CSeq used.
    client.Settings().password = std::string(67, 'p');
    const std::uint32_t before = client.State().cseq;
    EXPECT_EQ(client.BuildRequest(kDescribe), "");
    EXPECT_EQ(client.State().cseq, before);

    // Digest hashes the base URL, also for SETUP whose request line names the track URL.
    client.Settings() = CameraSettings();
    client.Settings().authScheme = kAuthDigest;
    client.State().challenge.scheme = kAuthDigest;
    client.State().challenge.realm = "Surveillance Server";
    client.State().challenge.nonce = "n1";
    client.State().videoControl = "trackID=1";
    const std::string base = "rtsp://127.0.0.1:554/vtl_media/main";
    const std::string setup = client.BuildRequest(kSetup);
    EXPECT_NE(setup.find("uri=\"" + base + "\""), std::string::npos) << setup;
    EXPECT_NE(setup.find(ExpectedDigestResponse("SETUP", base, "n1")), std::string::npos);
}

TEST(CBaseRTSPClient, TransactWithoutConnectionFails) {
    CBaseRTSPClient client;
    EXPECT_FALSE(client.Transact(kDescribe));
    EXPECT_FALSE(client.Request(kOptions));
}

} // namespace
} // namespace norvane
