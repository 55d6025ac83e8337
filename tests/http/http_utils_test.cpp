#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "http/http_request.h"
#include "http/http_utils.h"

namespace norvane::HUtils {
namespace {

const std::string kDevice = "device 192.0.2.10:80";
const std::string kPath = "/cgi-bin/action.fcgi?vtl_api=get_setup.event.status";

std::vector<std::uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

TEST(HUtils, DeviceTextNamesAddressAndPort) {
    DEVICE_INFO device;
    device.address = "cam.example";
    device.port = 8080;
    EXPECT_EQ(DeviceText(device), "device cam.example:8080");
}

TEST(HUtils, JudgeHeadCodesAndMessages) {
    struct Case {
        bool sent;
        std::uint32_t status;
        std::uint32_t code;
        std::uint32_t level;
        std::string message;
    };

    const std::string notSent =
            "norvane::HUtils::RequestGetRD: cannot send request \"" + kPath + "\" to " + kDevice;
    const auto refused = [](const std::string& status) {
        return "norvane::HUtils::RequestGetRD: " + kDevice + " does not process request \"" +
               kPath + "\", status code = " + status;
    };
    const Case cases[] = {
            {false, 0, 9, 3, notSent},
            {false, 200, 9, 3, notSent}, // a failed Send is never judged by an older status
            {true, 0, 9, 3, notSent},
            {true, 200, 0, 2, ""},
            {true, 204, 0, 2, ""},
            {true, 299, 0, 2, ""},
            {true, 199, 6, 1, refused("199")},
            {true, 302, 6, 1, refused("302")},
            {true, 401, 6, 1, refused("401")},
            {true, 404, 6, 1, refused("404")},
            {true, 500, 6, 1, refused("500")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.sent) + " " + std::to_string(c.status));
        const CResultDef result = JudgeHead(c.sent, c.status, kDevice, kPath);
        EXPECT_EQ(result.m_code, c.code);
        EXPECT_EQ(result.m_level, c.level);
        EXPECT_EQ(result.m_message, c.message);
    }
}

TEST(HUtils, JudgeAnswerReadsReturnCode) {
    struct Case {
        std::string body;
        std::uint32_t code;
        std::uint32_t level;
        std::string messageEnd; // empty: no message
    };

    const Case cases[] = {
            {"return_code=0x00000000\r\n", 0, 2, ""},
            {"brand=Vantrel\r\nswver=1.0\r\n", 0, 2, ""},
            {"return_code=0x80000003\r\n", 6, 1, "status code = 0x80000003"},
            {"a=1\r\nreturn_code=0x00000001", 6, 1, "status code = 0x00000001"},
            // The value keeps its leading blank, so it is not the success text.
            {" return_code = 0x00000000\r\n", 6, 1, "status code =  0x00000000"},
            {"return_code=0X00000000\r\n", 6, 1, "status code = 0X00000000"},
            {"return_code=\r\n", 0, 2, ""},
            // Text from the camera is printed as it stands, never read as a format.
            {"return_code=%s%n%x\r\n", 6, 1, "status code = %s%n%x"},
            {"", 10, 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        std::vector<std::uint8_t> answer = Bytes(c.body);
        const CResultDef result = JudgeAnswer(answer, kDevice, kPath);
        EXPECT_EQ(result.m_code, c.code);
        EXPECT_EQ(result.m_level, c.level);
        ASSERT_EQ(answer.size(), c.body.size() + 1);
        EXPECT_EQ(answer.back(), 0);
        if (c.code == 0) {
            EXPECT_TRUE(result.m_message.empty());
        } else if (c.code == 6) {
            const std::string start = "norvane::HUtils::RequestGetRD: " + kDevice +
                                      " does not process request \"" + kPath + "\", ";
            EXPECT_EQ(result.m_message, start + c.messageEnd);
        }
    }
}

TEST(HUtils, EmptyAnswerGivesCode10AndOnlyTheZeroByte) {
    std::vector<std::uint8_t> answer;
    const CResultDef result = JudgeAnswer(answer, kDevice, kPath);
    EXPECT_EQ(result.m_code, 10U);
    EXPECT_EQ(result.m_level, 1U);
    EXPECT_EQ(result.m_message, "norvane::HUtils::RequestGetRD: incorrect response for request \"" +
                                        kPath + "\" from " + kDevice);
    EXPECT_EQ(answer, std::vector<std::uint8_t>{0});
}

TEST(HUtils, SuccessAnswerOf24CharactersBecomes25Bytes) {
    std::vector<std::uint8_t> answer = Bytes("return_code=0x00000000\r\n");
    EXPECT_EQ(JudgeAnswer(answer, kDevice, kPath).m_code, 0U);
    EXPECT_EQ(answer.size(), 25U);
}

TEST(HUtils, ValueOfStopsAtTheFirstZeroByte) {
    std::vector<std::uint8_t> answer = Bytes("hwver=X1\r\n");
    answer.push_back(0);
    const std::string hidden = "brand=Other\r\n";
    answer.insert(answer.end(), hidden.begin(), hidden.end());
    EXPECT_EQ(ValueOf(answer, "hwver"), "X1");
    EXPECT_EQ(ValueOf(answer, "brand"), "");
}

class CountingReporter : public IDebugMessage {
public:
    void DebugMessage(unsigned char, const char*, ...) override {}
};

TEST(MessageAllowed, PassesTheFirst14ThenOneIn16) {
    CountingReporter reporter;
    std::vector<int> allowed;
    for (int n = 1; n <= 48; ++n) {
        if (MessageAllowed(reporter)) {
            allowed.push_back(n);
        }
    }
    const std::vector<int> expected{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 16, 32, 48};
    EXPECT_EQ(allowed, expected);
    EXPECT_EQ(reporter.m_messageCount.load(), 48U);
}

TEST(MessageAllowed, RangesAndWrap) {
    struct Case {
        std::uint32_t before;
        std::uint32_t after;
        bool allowed;
    };

    const Case cases[] = {
            {13, 14, true},
            {14, 15, false},
            {15, 16, true},
            {16, 17, false},
            {239, 240, true},
            {253, 254, false},
            {254, 255, false},
            {255, 256, true},
            {511, 512, true},
            {767, 768, true},
            {4093, 4094, false},
            {4094, 4095, false},
            {4095, 4096, true},
            {8191, 8192, true},
            {8192, 8193, false},
            {61439, 61440, true},
            {65533, 65534, false},
            // 65535 is never reached: the counter goes back to 4095 (and stays in the high range).
            {65534, 4095, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before);
        CountingReporter reporter;
        reporter.m_messageCount.store(c.before);
        EXPECT_EQ(MessageAllowed(reporter), c.allowed);
        EXPECT_EQ(reporter.m_messageCount.load(), c.after);
    }
}

TEST(EscapeRequestObject, EscapesUnsafeBytesAndKeepsTheQueryWhenAsked) {
    struct Case {
        std::string object;
        bool escapeQuery;
        std::string expected;
    };

    const Case cases[] = {
            {"/cgi-bin/action.fcgi?vtl_api=get_setup.system.info", false,
             "/cgi-bin/action.fcgi?vtl_api=get_setup.system.info"},
            {"/a b/c?x=1&y=2", false, "/a%20b/c?x=1&y=2"},
            {"/p#q?v=a b\"c", false, "/p%23q?v=a%20b\"c"},
            {"/p?v=a b\"c#d", true, "/p?v=a%20b%22c%23d"},
            {"/p?v=\r\nX: 1", false, "/p?v=%0D%0AX:%201"},
            {"/%41?%42", true, "/%41?%42"},
            {"/\xC3\xA9?\xC3\xA9", false, "/%C3%A9?\xC3\xA9"},
            {"/x?a=1?b=2", true, "/x?a=1?b=2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.object);
        EXPECT_EQ(Web::EscapeRequestObject(c.object, c.escapeQuery), c.expected);
    }
}

TEST(HttpRequest, DefaultsOfADriverRequest) {
    const Web::HttpRequest request("GET", "/x");
    EXPECT_EQ(request.protocol, 0U);
    EXPECT_EQ(request.authScheme, 0U);
    EXPECT_TRUE(request.body.empty());
    EXPECT_EQ(request.totalLength, 0U);
    EXPECT_TRUE(request.headers.empty());
    EXPECT_EQ(request.options, 5U);
}

} // namespace
} // namespace norvane::HUtils
