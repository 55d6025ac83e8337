#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "http/auth_scheme.h"
#include "http/http_sender.h"
#include "http/http_utils.h"
#include "lighttpd_server.h"
#include "platform/socket.h"
#include "platform/wait.h"

namespace norvane {
namespace {

using test::CLighttpdServer;
using Auth = CLighttpdServer::Auth;
using Clock = std::chrono::steady_clock;

#define START_SERVER(server, auth)                                                                 \
    do {                                                                                           \
        if (const std::string missing = CLighttpdServer::MissingTool(auth); !missing.empty()) {    \
            GTEST_SKIP() << "skipped: " << missing;                                                \
        }                                                                                          \
        ASSERT_TRUE((server).Start(auth)) << (server).Error();                                     \
    } while (false)

std::string Path(const std::string& api) {
    return "/cgi-bin/action.fcgi?vtl_api=" + api;
}

std::string Logged(const std::string& status, const std::string& api) {
    return status + " GET " + Path(api) + " HTTP/1.1";
}

DEVICE_INFO Camera(std::uint16_t port, const std::string& user = "",
                   const std::string& password = "", std::int32_t timeoutMs = 10000) {
    DEVICE_INFO device;
    device.requestTimeout = timeoutMs;
    device.address = "127.0.0.1";
    device.port = port;
    device.userName = user;
    device.password = password;
    return device;
}

std::string Text(const std::vector<std::uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}

// A loopback port that refuses connections: bound once, then closed.
std::uint16_t ClosedPort() {
    platform::CSocket socket = platform::CSocket::CreateTcp();
    EXPECT_TRUE(socket.Bind(platform::LoopbackAddress(), 0));
    return socket.LocalPort();
}

// A peer that never answers: connections complete in the listen backlog and are never read.
class SilentPeer {
public:
    SilentPeer() : m_socket(platform::CSocket::CreateTcp()) {
        EXPECT_TRUE(m_socket.Bind(platform::LoopbackAddress(), 0));
        EXPECT_TRUE(m_socket.Listen(4));
    }

    [[nodiscard]] std::uint16_t Port() const { return m_socket.LocalPort(); }

    // WaitForClient waits until a connection is pending.
    bool WaitForClient() {
        return platform::WaitSocket(m_socket, platform::WaitFor::Read, nullptr, 5000) ==
               platform::WaitResult::Ready;
    }

private:
    platform::CSocket m_socket;
};

// A peer that accepts exactly one connection and answers `count` requests on it, recording each
// request head; a client that opened a second connection would get no answer. With `reply`, that
// text answers the first request; with `holdMs`, the connection then stays open that long before
// it closes (a camera that stops sending).
class OneConnectionPeer {
public:
    explicit OneConnectionPeer(int count, std::string reply = "", int holdMs = 0)
        : m_listener(platform::CSocket::CreateTcp())
        , m_reply(std::move(reply))
        , m_holdMs(holdMs) {
        EXPECT_TRUE(m_listener.Bind(platform::LoopbackAddress(), 0));
        EXPECT_TRUE(m_listener.Listen(4));
        m_thread = std::thread([this, count] { Serve(count); });
    }

    ~OneConnectionPeer() { Finish(); }

    [[nodiscard]] std::uint16_t Port() const { return m_listener.LocalPort(); }

    // Finish waits for the peer to end and returns the heads of the requests it served.
    std::vector<std::string> Finish() {
        if (m_thread.joinable()) {
            m_thread.join();
        }
        return m_heads;
    }

private:
    void Serve(int count) {
        if (platform::WaitSocket(m_listener, platform::WaitFor::Read, nullptr, 5000) !=
            platform::WaitResult::Ready) {
            return;
        }
        platform::CSocket connection = m_listener.Accept(nullptr);
        connection.SetReceiveTimeout(5000);
        std::string received;
        for (int i = 0; i < count; ++i) {
            std::size_t end = 0;
            while ((end = received.find("\r\n\r\n")) == std::string::npos) {
                std::uint8_t buffer[1024];
                const platform::IoResult got = connection.Receive(buffer);
                if (!got.Ok() || got.bytes == 0) {
                    return;
                }
                received.append(reinterpret_cast<const char*>(buffer), got.bytes);
            }
            m_heads.push_back(received.substr(0, end));
            received.erase(0, end + 4);
            const std::string reply =
                    !m_reply.empty()
                            ? m_reply
                            : "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nn=" + std::to_string(i) +
                                      "\r\n";
            connection.Send({reinterpret_cast<const std::uint8_t*>(reply.data()), reply.size()});
        }
        if (m_holdMs > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(m_holdMs));
        }
    }

    platform::CSocket m_listener;
    std::string m_reply;
    int m_holdMs;
    std::vector<std::string> m_heads;
    std::thread m_thread;
};

// A reporter that formats like the driver does, so a message used as a format would show.
class RecordingReporter : public IDebugMessage {
public:
    void DebugMessage(unsigned char level, const char* format, ...) override {
        va_list args;
        va_start(args, format);
        char text[1024];
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
        messages.push_back(std::to_string(level) + ":" + text);
    }

    std::vector<std::string> messages;
};

TEST(CHttpSenderLighttpd, AnswersWithoutAuthentication) {
    CLighttpdServer server;
    START_SERVER(server, Auth::None);
    server.SetAnswer("get_setup.system.info", "brand=Vantrel\r\nhwver=X1\r\n");
    server.SetAnswer("set_setup.video.codec", "return_code=0x00000000\r\n");
    Web::CHttpSender sender(Camera(server.Port()));
    EXPECT_EQ(sender.StatusCode(), 0U);

    std::vector<std::uint8_t> answer;
    CResultDef result = HUtils::RequestGetRD(sender, Path("get_setup.system.info"), answer);
    EXPECT_EQ(result.m_code, 0U);
    EXPECT_EQ(result.m_level, 2U);
    EXPECT_EQ(Text(answer), std::string("brand=Vantrel\r\nhwver=X1\r\n") + '\0');
    EXPECT_EQ(sender.StatusCode(), 200U);

    EXPECT_TRUE(HUtils::RequestSet(sender, Path("set_setup.video.codec&fps=25"), nullptr));
    EXPECT_EQ(sender.AuthScheme(), 0U);
    EXPECT_EQ(server.Requests(),
              (std::vector<std::string>{"||vtl_api=get_setup.system.info",
                                        "||vtl_api=set_setup.video.codec&fps=25"}));
}

TEST(CHttpSenderLighttpd, FailuresGiveTheirCodesAndTexts) {
    CLighttpdServer server;
    START_SERVER(server, Auth::None);
    server.SetAnswer("missing", "not here", "404 Not Found");
    server.SetAnswer("broken", "return_code=0x00000000\r\n", "500 Internal Server Error");
    server.SetAnswer("empty", "");
    server.SetAnswer("refused", "return_code=0x80000003\r\n");
    server.SetAnswer("moved", "", "302 Found", "Location: " + Path("target") + "\r\n");
    const std::string device = "device 127.0.0.1:" + std::to_string(server.Port());
    const auto refused = [&](const std::string& api, const std::string& status) {
        return "norvane::HUtils::RequestGetRD: " + device + " does not process request \"" +
               Path(api) + "\", status code = " + status;
    };

    struct Case {
        std::string api;
        std::uint32_t code;
        std::uint32_t level;
        std::string message;
        std::string answer;
    };

    const Case cases[] = {
            {"missing", 6, 1, refused("missing", "404"), ""},
            {"broken", 6, 1, refused("broken", "500"), ""}, // the body is not read
            {"empty", 10, 1,
             "norvane::HUtils::RequestGetRD: incorrect response for request \"" + Path("empty") +
                     "\" from " + device,
             std::string(1, '\0')},
            {"refused", 6, 1, refused("refused", "0x80000003"),
             std::string("return_code=0x80000003\r\n") + '\0'},
            {"moved", 6, 1, refused("moved", "302"), ""}, // redirects are not followed
    };
    Web::CHttpSender sender(Camera(server.Port()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.api);
        std::vector<std::uint8_t> answer{1, 2, 3};
        const CResultDef result = HUtils::RequestGetRD(sender, Path(c.api), answer);
        EXPECT_EQ(result.m_code, c.code);
        EXPECT_EQ(result.m_level, c.level);
        EXPECT_EQ(result.m_message, c.message);
        EXPECT_EQ(Text(answer), c.answer);
    }
    EXPECT_EQ(server.Requests().size(), std::size(cases)); // "target" was never asked for
}

TEST(CHttpSenderLighttpd, BodyIsCappedAtOneMebibyte) {
    CLighttpdServer server;
    START_SERVER(server, Auth::None);
    server.SetAnswer("big", std::string(2 * Web::kMaxBodyBytes + 5, 'a'));
    Web::CHttpSender sender(Camera(server.Port()));
    ASSERT_TRUE(sender.Send(Web::HttpRequest("GET", Path("big"))));
    std::vector<std::uint8_t> body;
    EXPECT_EQ(sender.ReadBody(body), Web::kMaxBodyBytes);
    EXPECT_EQ(body, std::vector<std::uint8_t>(Web::kMaxBodyBytes, 'a'));
    EXPECT_EQ(sender.ReadBody(body), 0U); // handed out once
}

TEST(CHttpSenderLighttpd, BasicCredentialsGoWithTheFirstRequest) {
    CLighttpdServer server;
    START_SERVER(server, Auth::Basic);
    server.SetAnswer("a", "x=1\r\n");
    server.SetAnswer("b", "x=2\r\n");
    Web::CHttpSender sender(
            Camera(server.Port(), CLighttpdServer::kUser, CLighttpdServer::kPassword));
    std::vector<std::uint8_t> answer;
    EXPECT_EQ(HUtils::RequestGetRD(sender, Path("a"), answer).m_code, 0U);
    EXPECT_EQ(HUtils::RequestGetRD(sender, Path("b"), answer).m_code, 0U);
    EXPECT_EQ(sender.AuthScheme(), 0U);
    EXPECT_EQ(server.Requests(),
              (std::vector<std::string>{"Basic|admin|vtl_api=a", "Basic|admin|vtl_api=b"}));
    EXPECT_EQ(server.StopAndReadAccessLog(),
              (std::vector<std::string>{Logged("200", "a"), Logged("200", "b")}));
}

TEST(CHttpSenderLighttpd, RefusedBasicFailsOnceThen401IsAnAnswer) {
    struct Case {
        std::string user;
        std::string password;
    };

    // A wrong password, and no user name at all (no credentials are sent).
    const Case cases[] = {{CLighttpdServer::kUser, "wrong"}, {"", ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.user);
        CLighttpdServer server;
        START_SERVER(server, Auth::Basic);
        server.SetAnswer("a", "x=1\r\n");
        Web::CHttpSender sender(Camera(server.Port(), c.user, c.password));
        std::vector<std::uint8_t> answer;
        const CResultDef first = HUtils::RequestGetRD(sender, Path("a"), answer);
        EXPECT_EQ(first.m_code, 9U);
        EXPECT_EQ(sender.AuthScheme(), Web::kAuthSchemeBasic);
        const CResultDef second = HUtils::RequestGetRD(sender, Path("a"), answer);
        EXPECT_EQ(second.m_code, 6U);
        EXPECT_EQ(sender.StatusCode(), 401U);
        EXPECT_TRUE(server.Requests().empty());
        EXPECT_EQ(server.StopAndReadAccessLog(),
                  (std::vector<std::string>{Logged("401", "a"), Logged("401", "a")}));
    }
}

// MD5 as older firmware asks for it, SHA-256 as current firmware does (RFC 7616).
TEST(CHttpSenderLighttpd, DigestIsLearnedFromTheFirst401AndUsedAtOnce) {
    for (const Auth auth : {Auth::Digest, Auth::DigestSha256}) {
        SCOPED_TRACE(auth == Auth::Digest ? "MD5" : "SHA-256");
        CLighttpdServer server;
        START_SERVER(server, auth);
        server.SetAnswer("a", "x=1\r\n");
        server.SetAnswer("b", "x=2\r\n");
        server.SetAnswer("c", "x=3\r\n");
        Web::CHttpSender sender(
                Camera(server.Port(), CLighttpdServer::kUser, CLighttpdServer::kPassword));
        std::vector<std::uint8_t> answer;
        EXPECT_EQ(HUtils::RequestGetRD(sender, Path("a"), answer).m_code, 0U);
        EXPECT_EQ(Text(answer), std::string("x=1\r\n") + '\0');
        EXPECT_EQ(sender.AuthScheme(), Web::kAuthSchemeDigest);
        EXPECT_EQ(HUtils::RequestGetRD(sender, Path("b"), answer).m_code, 0U);
        EXPECT_EQ(HUtils::RequestGetRD(sender, Path("c"), answer).m_code, 0U);
        EXPECT_EQ(server.Requests(),
                  (std::vector<std::string>{"Digest|admin|vtl_api=a", "Digest|admin|vtl_api=b",
                                            "Digest|admin|vtl_api=c"}));
        const std::vector<std::string> log = server.StopAndReadAccessLog();
        // The first request: Basic refused, then the Digest exchange; the later ones at once.
        ASSERT_GE(log.size(), 4U);
        EXPECT_EQ(log.front(), Logged("401", "a"));
        EXPECT_EQ(log[log.size() - 3], Logged("200", "a"));
        EXPECT_EQ(log[log.size() - 2], Logged("200", "b"));
        EXPECT_EQ(log.back(), Logged("200", "c"));
    }
}

TEST(CHttpSenderLighttpd, RedirectsAreFollowedOnlyWhenAllowed) {
    CLighttpdServer server;
    START_SERVER(server, Auth::None);
    server.SetAnswer("moved", "", "302 Found", "Location: " + Path("target") + "\r\n");
    server.SetAnswer("target", "x=1\r\n");
    Web::CHttpSender sender(Camera(server.Port()));
    Web::HttpRequest request("GET", Path("moved"));
    ASSERT_TRUE(sender.Send(request));
    EXPECT_EQ(sender.StatusCode(), 302U);
    request.options &= ~Web::kOptionNoRedirects;
    ASSERT_TRUE(sender.Send(request));
    EXPECT_EQ(sender.StatusCode(), 200U);
    std::vector<std::uint8_t> body;
    sender.ReadBody(body);
    EXPECT_EQ(Text(body), "x=1\r\n");
    EXPECT_EQ(server.Requests(),
              (std::vector<std::string>{"||vtl_api=moved", "||vtl_api=moved", "||vtl_api=target"}));
}

TEST(CHttpSenderLighttpd, HttpsWithProtocol1AndTheCertificateOption) {
    CLighttpdServer server;
    if (const std::string missing = CLighttpdServer::MissingTool(Auth::Basic, true);
        !missing.empty()) {
        GTEST_SKIP() << "skipped: " << missing;
    }
    ASSERT_TRUE(server.Start(Auth::Basic, true)) << server.Error();
    server.SetAnswer("a", "x=1\r\n");
    Web::CHttpSender sender(
            Camera(server.Port(), CLighttpdServer::kUser, CLighttpdServer::kPassword));
    Web::HttpRequest request("GET", Path("a"));
    request.protocol = Web::kProtocolHttps;
    EXPECT_FALSE(sender.Send(request)); // a self-signed certificate is refused by default
    Web::HttpRequest plain("GET", Path("a"));
    EXPECT_FALSE(sender.Send(plain)); // plain HTTP does not reach a TLS port
    request.options |= Web::kOptionIgnoreCertErrors;
    ASSERT_TRUE(sender.Send(request));
    EXPECT_EQ(sender.StatusCode(), 200U);
    std::vector<std::uint8_t> body;
    EXPECT_EQ(sender.ReadBody(body), 5U);
    EXPECT_EQ(server.Requests(), std::vector<std::string>{"Basic|admin|vtl_api=a"});
}

TEST(CHttpSenderLighttpd, AbortedSenderFailsUntilRearmed) {
    CLighttpdServer server;
    START_SERVER(server, Auth::None);
    server.SetAnswer("a", "x=1\r\n");
    Web::CHttpSender sender(Camera(server.Port()));
    sender.Abort();
    EXPECT_TRUE(sender.IsAborted());
    std::vector<std::uint8_t> answer;
    EXPECT_EQ(HUtils::RequestGetRD(sender, Path("a"), answer).m_code, 9U);
    EXPECT_TRUE(server.Requests().empty());
    sender.Rearm();
    EXPECT_EQ(HUtils::RequestGetRD(sender, Path("a"), answer).m_code, 0U);
    EXPECT_EQ(server.Requests().size(), 1U);
}

TEST(CHttpSender, KeepsOneConnectionAndSendsCredentialsEveryTime) {
    OneConnectionPeer peer(3);
    Web::CHttpSender sender(Camera(peer.Port(), "admin", "pw", 3000));
    for (int i = 0; i < 3; ++i) {
        std::vector<std::uint8_t> answer;
        const CResultDef result =
                HUtils::RequestGetRD(sender, Path("get_setup.event.status"), answer);
        EXPECT_EQ(result.m_code, 0U) << result.m_message;
        EXPECT_EQ(Text(answer), "n=" + std::to_string(i) + "\r\n" + '\0');
    }
    const std::vector<std::string> heads = peer.Finish();
    ASSERT_EQ(heads.size(), 3U);
    for (const std::string& head : heads) {
        EXPECT_EQ(head.rfind("GET " + Path("get_setup.event.status") + " HTTP/1.1\r\n", 0), 0U)
                << head;
        EXPECT_NE(head.find("\r\nUser-Agent: Norvane::HttpClient"), std::string::npos) << head;
        // Basic credentials (RFC 7617) go with every request, the first one included.
        EXPECT_NE(head.find("\r\nAuthorization: Basic YWRtaW46cHc="), std::string::npos) << head;
    }
}

// Sends GET for the system information to a peer that answers with `reply` (and then keeps the
// connection open `holdMs`); the answer's firmware version when the request succeeded, else the
// failure's message behind "failed: ".
std::string FirmwareFrom(const std::string& reply, int holdMs = 0) {
    OneConnectionPeer peer(1, reply, holdMs);
    Web::CHttpSender sender(Camera(peer.Port(), "", "", 500));
    std::vector<std::uint8_t> answer;
    const CResultDef result = HUtils::RequestGetRD(sender, Path("get_setup.system.info"), answer);
    return result.m_code == 0U ? HUtils::ValueOf(answer, "swver") : "failed: " + result.m_message;
}

const std::string kHead = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n";
const std::string kChunked = kHead + "Transfer-Encoding: chunked\r\n\r\n9\r\nswver=1\r\n\r\n";

// An answer cut short is a failed request, never a success judged on what arrived: the cut may
// have removed the return code that refuses the request.
TEST(CHttpSender, AnswerCutShortIsAFailedRequest) {
    EXPECT_EQ(FirmwareFrom(kHead + "Content-Length: 9\r\n\r\nswver=1\r\n"), "1");
    EXPECT_EQ(FirmwareFrom(kChunked + "0\r\n\r\n"), "1");
    // Shorter than its length, then closed; then silent past the time-out.
    EXPECT_EQ(FirmwareFrom(kHead + "Content-Length: 40\r\n\r\nswver=1\r\n").rfind("failed", 0), 0U);
    EXPECT_EQ(
            FirmwareFrom(kHead + "Content-Length: 40\r\n\r\nswver=1\r\n", 1500).rfind("failed", 0),
            0U);
}

TEST(CHttpSender, ChunkedAnswerWithoutItsLastChunkIsAFailedRequest) {
    EXPECT_EQ(FirmwareFrom(kChunked).rfind("failed", 0), 0U);
}

TEST(CHttpSender, UnreachableCameraGivesCode9) {
    const std::uint16_t port = ClosedPort();
    Web::CHttpSender sender(Camera(port));
    std::vector<std::uint8_t> answer;
    const CResultDef result = HUtils::RequestGetRD(sender, Path("get_setup.event.status"), answer);
    EXPECT_EQ(result.m_code, 9U);
    EXPECT_EQ(result.m_level, 3U);
    EXPECT_EQ(result.m_message, "norvane::HUtils::RequestGetRD: cannot send request \"" +
                                        Path("get_setup.event.status") +
                                        "\" to device 127.0.0.1:" + std::to_string(port));
    EXPECT_TRUE(answer.empty());
    EXPECT_EQ(sender.StatusCode(), 0U);
}

TEST(CHttpSenderLighttpd, RequestsThatCannotBeExpressedAreNotSent) {
    CLighttpdServer server;
    START_SERVER(server, Auth::None);
    server.SetAnswer("a", "x=1\r\n");
    Web::CHttpSender sender(Camera(server.Port()));
    Web::HttpRequest badHeader("GET", Path("a"));
    badHeader.headers = {"X-A: 1\r\nX-Injected: 2"};
    Web::HttpRequest noColon("GET", Path("a"));
    noColon.headers = {"NoColon"};
    Web::HttpRequest badVerb("GET /y HTTP/1.1\r\nX:", Path("a"));
    Web::HttpRequest streamed("POST", Path("a"));
    streamed.totalLength = 10;
    Web::HttpRequest noWait("GET", Path("a"));
    noWait.options |= Web::kOptionNoResponseWait;
    for (const Web::HttpRequest* request : {&badHeader, &noColon, &badVerb, &streamed, &noWait}) {
        EXPECT_FALSE(sender.Send(*request)) << request->verb;
    }
    Web::HttpRequest passport("GET", Path("a"));
    passport.authScheme = 2;
    Web::CHttpSender withUser(Camera(server.Port(), "admin", "pw"));
    EXPECT_FALSE(withUser.Send(passport)); // no such scheme here
    EXPECT_TRUE(server.Requests().empty());

    Web::HttpRequest good("GET", Path("a"));
    good.headers = {"X-A: 1", "x-a: 2"};
    EXPECT_TRUE(sender.Send(good));
    EXPECT_EQ(sender.StatusCode(), 200U);
    EXPECT_EQ(server.Requests().size(), 1U);
}

TEST(CHttpSender, ReportsThroughTheReporterAsLiteralTextAndThrottled) {
    Web::CHttpSender sender(Camera(ClosedPort()));
    RecordingReporter reporter;
    const std::string path = Path("set_setup.x&name=%s%n%d");
    for (int i = 0; i < 16; ++i) {
        EXPECT_FALSE(HUtils::RequestSet(sender, path, &reporter));
    }
    EXPECT_FALSE(HUtils::RequestSet(sender, path, nullptr));
    ASSERT_EQ(reporter.messages.size(), 15U); // the 15th is held back, the 16th passes
    EXPECT_EQ(reporter.messages.front(),
              "3:norvane::HUtils::RequestGetRD: cannot send request \"" + path +
                      "\" to device 127.0.0.1:" + std::to_string(sender.DeviceInfo().port));
    EXPECT_EQ(reporter.m_messageCount.load(), 16U);

    // A request abandoned by a stop fails without a word.
    sender.Abort();
    EXPECT_FALSE(HUtils::RequestSet(sender, path, &reporter));
    EXPECT_EQ(reporter.messages.size(), 15U);
    EXPECT_EQ(reporter.m_messageCount.load(), 16U);
}

TEST(CHttpSender, SilentCameraTimesOutAfterRequestTimeout) {
    SilentPeer peer;
    Web::CHttpSender sender(Camera(peer.Port(), "", "", 300));
    const auto start = Clock::now();
    EXPECT_FALSE(sender.Send(Web::HttpRequest("GET", Path("a"))));
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(250));
    EXPECT_LT(elapsed, std::chrono::seconds(3));
}

TEST(CHttpSender, AbortEndsAHangingRequestAtOnce) {
    SilentPeer peer;
    Web::CHttpSender sender(Camera(peer.Port())); // 10 s time-out
    std::atomic<bool> result{true};
    std::atomic<std::int64_t> elapsedMs{-1};
    std::thread requester([&] {
        const auto start = Clock::now();
        result = sender.Send(Web::HttpRequest("GET", Path("a")));
        elapsedMs =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    });
    ASSERT_TRUE(peer.WaitForClient());
    const auto abortAt = Clock::now();
    sender.Abort();
    requester.join();
    const auto afterAbort = Clock::now() - abortAt;
    EXPECT_FALSE(result.load());
    EXPECT_LT(afterAbort, std::chrono::seconds(2));
    EXPECT_LT(elapsedMs.load(), 5000);
}

} // namespace
} // namespace norvane
