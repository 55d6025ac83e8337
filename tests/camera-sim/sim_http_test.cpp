// The simulated camera's HTTP CGI interface over loopback, driven by a plain socket client.
#include <thread>

#include <gtest/gtest.h>

#include "camera_sim.h"
#include "sim_test_client.h"
#include "sim_text.h"

namespace norvane::sim {
namespace {

using test::CTextClient;
using test::Reply;

constexpr char kCgi[] = "/cgi-bin/action.fcgi?vtl_api=";

std::string Get(const std::string& target, const std::string& extra = "") {
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra + "\r\n";
}

class SimHttpTest : public ::testing::Test {
protected:
    void StartSim(CameraSimConfig config = {}) {
        m_sim = std::make_unique<CCameraSim>(std::move(config));
        std::string error;
        ASSERT_TRUE(m_sim->Start(&error)) << error;
        ASSERT_TRUE(m_client.Connect(m_sim->HttpPort()));
    }

    std::optional<Reply> Cgi(const std::string& function, const std::string& extra = "") {
        return m_client.Exchange(Get(kCgi + function, extra));
    }

    std::unique_ptr<CCameraSim> m_sim;
    CTextClient m_client;
};

TEST_F(SimHttpTest, SystemInfoAnswersKeyValueLinesOverOneKeptConnection) {
    StartSim();
    const auto info = Cgi("get_setup.system.info");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->status, 200);
    EXPECT_EQ(info->body.find("brand=Vantrel\r\nhwver=VT-2M100\r\nswver=2.4.1\r\n"), 0U);
    EXPECT_EQ(info->body.substr(info->body.size() - 24), "return_code=0x00000000\r\n");
    EXPECT_EQ(info->Header("Connection"), "keep-alive");
    // The same connection serves the next request.
    const auto codec = Cgi("get_setup.video.codec");
    ASSERT_TRUE(codec);
    EXPECT_NE(codec->body.find("ff_mode=50\r\n"), std::string::npos);
    EXPECT_NE(codec->body.find("resolution0=640x480\r\n"), std::string::npos);

    const auto log = m_sim->Requests();
    ASSERT_EQ(log.size(), 2U);
    EXPECT_EQ(log[0].protocol, LoggedRequest::Protocol::Http);
    EXPECT_EQ(log[0].method, "GET");
    EXPECT_EQ(log[0].uri, "/cgi-bin/action.fcgi?vtl_api=get_setup.system.info");
    EXPECT_EQ(log[0].text, Get(std::string(kCgi) + "get_setup.system.info"));
}

TEST_F(SimHttpTest, WaitForRequestSeesRequestsFromOtherThreads) {
    StartSim();
    const auto isStatus = [](const LoggedRequest& r) {
        return r.uri.find("get_setup.event.status") != std::string::npos;
    };
    EXPECT_FALSE(m_sim->WaitForRequest(isStatus, std::chrono::milliseconds(50)));
    std::thread client([this] { (void)Cgi("get_setup.event.status"); });
    EXPECT_TRUE(m_sim->WaitForRequest(isStatus, std::chrono::seconds(5)));
    client.join();
    m_sim->ClearRequests();
    EXPECT_TRUE(m_sim->Requests().empty());
}

TEST_F(SimHttpTest, CgiRequestsAreCheckedAndApplied) {
    StartSim();
    const std::string driverConfig =
            "set_setup.video.codec&codec0=h264&resolution0=1280x720&bitctrl0=cbr&bitavr0=4256"
            "&fps0=12.5&codec1=none&resolution1=320x240&bitctrl1=cbr&bitavr1=4256&fps1=12.5"
            "&ff_mode=50&mirror_mode=none&bandon=no&bandwidth=5000";

    struct Case {
        std::string request;
        int status;
        std::string returnCode;
    };

    const Case cases[] = {
            {driverConfig, 200, "0x00000000"},
            {"set_setup.video.codec&codec0=mpeg4", 200, "0x80000003"},
            {"set_setup.video.codec&resolution0=big", 200, "0x80000003"},
            {"set_setup.video.codec&fps0=0", 200, "0x80000003"},
            {"set_setup.video.codec&fps0=61", 200, "0x80000003"},
            {"set_setup.video.codec&colour=red", 200, "0x80000003"},
            {"set_setup.event.alarm_port&out_oper=maybe", 200, "0x80000003"},
            {"get_setup.unknown", 200, "0x80000001"},
    };
    for (const Case& c : cases) {
        const auto reply = Cgi(c.request);
        ASSERT_TRUE(reply) << c.request;
        EXPECT_EQ(reply->status, c.status) << c.request;
        EXPECT_NE(reply->body.find("return_code=" + c.returnCode + "\r\n"), std::string::npos)
                << c.request << " -> " << reply->body;
    }
    // Only the valid request changed the settings.
    const auto settings = m_sim->CodecSettings();
    const auto value = [&](const std::string& key) {
        for (const auto& [name, v] : settings) {
            if (name == key) {
                return v;
            }
        }
        return std::string();
    };
    EXPECT_EQ(value("resolution0"), "1280x720");
    EXPECT_EQ(value("fps0"), "12.5");
    EXPECT_EQ(value("codec1"), "none");
    EXPECT_EQ(value("codec0"), "h264");

    const auto notFound = m_client.Exchange(Get("/cgi-bin/other.cgi?vtl_api=x"));
    ASSERT_TRUE(notFound);
    EXPECT_EQ(notFound->status, 404);
    const auto post =
            m_client.Exchange("POST " + std::string(kCgi) +
                              "get_setup.system.info HTTP/1.1\r\nContent-Length: 2\r\n\r\nab");
    ASSERT_TRUE(post);
    EXPECT_EQ(post->status, 405);
}

TEST_F(SimHttpTest, AlarmInputAndRelayOutputFollowTheCgiExchanges) {
    StartSim();
    auto status = Cgi("get_setup.event.status");
    ASSERT_TRUE(status);
    EXPECT_NE(status->body.find("rise_alarm=0\r\n"), std::string::npos);
    m_sim->SetAlarmInput(true);
    status = Cgi("get_setup.event.status");
    ASSERT_TRUE(status);
    EXPECT_NE(status->body.find("rise_alarm=1\r\n"), std::string::npos);

    const auto port = Cgi("get_setup.event.alarm_port");
    ASSERT_TRUE(port);
    EXPECT_NE(port->body.find("in_enable=yes\r\n"), std::string::npos);
    EXPECT_NE(port->body.find("out_mode=transparent\r\n"), std::string::npos);

    const std::string prefix =
            "set_setup.event.alarm_port&in_enable=yes&in_type=no&in_text=ALARM%201&out_oper=";
    const std::string suffix = "&out_mode=transparent&out_dwell=5";
    auto reply = Cgi(prefix + "useron" + suffix);
    ASSERT_TRUE(reply);
    EXPECT_NE(reply->body.find("return_code=0x00000000"), std::string::npos);
    EXPECT_TRUE(m_sim->RelayOutput());
    reply = Cgi(prefix + "useroff" + suffix);
    ASSERT_TRUE(reply);
    EXPECT_FALSE(m_sim->RelayOutput());
    EXPECT_EQ(m_sim->RelaySwitchCount(), 2U);
    const auto after = Cgi("get_setup.event.alarm_port");
    ASSERT_TRUE(after);
    EXPECT_NE(after->body.find("in_text=ALARM 1\r\n"), std::string::npos);
}

TEST_F(SimHttpTest, BasicAndDigestCredentialsAreChecked) {
    struct Case {
        const char* name;
        AuthMode mode;
        bool qop;
        // Builds the Authorization line from the challenge of the first 401.
        std::function<std::string(const std::string& challenge)> authorization;
        int status;
    };

    const std::string uri = std::string(kCgi) + "get_setup.system.info";
    const auto digest = [uri](const std::string& password, const std::string& method,
                              bool sendQop) {
        return [=](const std::string& challenge) {
            const std::string realm = test::ChallengeParam(challenge, "realm");
            const std::string nonce = test::ChallengeParam(challenge, "nonce");
            const std::string ha1 = Md5Hex("admin:" + realm + ":" + password);
            const std::string ha2 = Md5Hex(method + ":" + uri);
            std::string line = "Authorization: Digest username=\"admin\", realm=\"" + realm +
                               "\", nonce=\"" + nonce + "\", uri=\"" + uri + "\", response=\"";
            if (sendQop) {
                line += Md5Hex(ha1 + ":" + nonce + ":00000001:0a4f113b:auth:" + ha2) +
                        "\", qop=auth, nc=00000001, cnonce=\"0a4f113b\"\r\n";
            } else {
                line += Md5Hex(ha1 + ":" + nonce + ":" + ha2) + "\"\r\n";
            }
            return line;
        };
    };
    const Case cases[] = {
            {"basic right", AuthMode::Basic, false,
             [](const std::string&) { return "Authorization: Basic YWRtaW46YWRtaW4=\r\n"; }, 200},
            {"basic wrong", AuthMode::Basic, false,
             [](const std::string&) { return "Authorization: Basic YWRtaW46eA==\r\n"; }, 401},
            {"basic none", AuthMode::Basic, false, [](const std::string&) { return ""; }, 401},
            {"digest to basic", AuthMode::Basic, false, digest("admin", "GET", false), 401},
            {"digest rfc2069", AuthMode::Digest, false, digest("admin", "GET", false), 200},
            {"digest qop", AuthMode::Digest, true, digest("admin", "GET", true), 200},
            {"digest qop wrong password", AuthMode::Digest, true, digest("x", "GET", true), 401},
            {"digest wrong method", AuthMode::Digest, false, digest("admin", "PUT", false), 401},
            {"basic to digest", AuthMode::Digest, false,
             [](const std::string&) { return "Authorization: Basic YWRtaW46YWRtaW4=\r\n"; }, 401},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CameraSimConfig config;
        config.httpAuth = c.mode;
        config.httpDigestQop = c.qop;
        config.realm = "IP Camera(C1214)";
        StartSim(config);
        const auto refused = m_client.Exchange(Get(uri));
        ASSERT_TRUE(refused);
        ASSERT_EQ(refused->status, 401);
        const auto challenge = refused->Header("WWW-Authenticate");
        ASSERT_TRUE(challenge);
        EXPECT_EQ(challenge->rfind(c.mode == AuthMode::Basic ? "Basic " : "Digest ", 0), 0U);
        EXPECT_EQ(test::ChallengeParam(*challenge, "realm"), "IP Camera(C1214)");
        EXPECT_EQ(challenge->find("qop=\"auth\"") != std::string::npos, c.qop);
        const auto reply = m_client.Exchange(Get(uri, c.authorization(*challenge)));
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->status, c.status);
        m_sim->Stop();
        m_client = CTextClient();
    }
}

TEST_F(SimHttpTest, FaultsRefuseRequestsAsConfigured) {
    StartSim();
    SimFaults faults;
    faults.refusedCgi["set_setup.video.codec"] = "0x80000009";
    faults.refusedCgi["get_setup.event.status"] = "500";
    m_sim->SetFaults(faults);
    auto reply = Cgi("set_setup.video.codec&fps0=5");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    EXPECT_EQ(reply->body, "return_code=0x80000009\r\n");
    reply = Cgi("get_setup.event.status");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 500);
    reply = Cgi("get_setup.system.info");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);

    faults = {};
    faults.httpAlways401 = true;
    m_sim->SetFaults(faults);
    reply = Cgi("get_setup.system.info", "Authorization: Basic YWRtaW46YWRtaW4=\r\n");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 401);
    EXPECT_TRUE(reply->Header("WWW-Authenticate"));
}

TEST_F(SimHttpTest, SplitRepliesArriveInPiecesButWhole) {
    StartSim();
    SimFaults faults;
    faults.splitReplyBytes = 40;
    faults.splitDelayMs = 20;
    m_sim->SetFaults(faults);
    const auto reply = Cgi("get_setup.system.info");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 200);
    EXPECT_GE(m_client.ReadsForLastReply(), 2);
    EXPECT_NE(reply->body.find("return_code=0x00000000\r\n"), std::string::npos);
}

TEST_F(SimHttpTest, MalformedOrOversizedRequestsAreRefusedAndClosed) {
    StartSim();
    auto reply = m_client.Exchange("GET\r\n\r\n");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 400);
    EXPECT_TRUE(m_client.WaitClosed(5000));

    CTextClient big;
    ASSERT_TRUE(big.Connect(m_sim->HttpPort()));
    // Headers beyond 64 KiB without an end are refused rather than buffered without limit.
    const std::string line = "X-Fill: " + std::string(1000, 'a') + "\r\n";
    ASSERT_TRUE(big.SendText("GET / HTTP/1.1\r\n"));
    bool refused = false;
    for (int i = 0; i < 100 && !refused; ++i) {
        refused = !big.SendText(line);
    }
    const auto bigReply = big.ReadReply(5000);
    ASSERT_TRUE(bigReply);
    EXPECT_EQ(bigReply->status, 400);
}

TEST_F(SimHttpTest, HttpOneZeroClosesAfterTheReplyUnlessKeptAlive) {
    StartSim();
    auto reply = m_client.Exchange("GET " + std::string(kCgi) +
                                   "get_setup.system.info HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Header("Connection"), "close");
    EXPECT_TRUE(m_client.WaitClosed(5000));
}

} // namespace
} // namespace norvane::sim
