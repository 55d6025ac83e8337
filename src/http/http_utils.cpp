#include "http/http_utils.h"

#include <algorithm>

#include "http/cgi_api.h"
#include "http/http_sender.h"
#include "text/text_utils.h"

namespace norvane::HUtils {
namespace {

constexpr std::string_view kSeparator = "=";
constexpr std::string_view kTerminators = "\r\n";

CResultDef Failure(std::uint32_t code, std::uint32_t level, std::string message) {
    CResultDef result;
    result.m_code = code;
    result.m_level = level;
    result.m_message = std::move(message);
    return result;
}

} // namespace

std::string DeviceText(const DEVICE_INFO& device) {
    return FormatString("device %s:%u", device.address.c_str(), static_cast<unsigned>(device.port));
}

std::string ValueOf(const std::vector<std::uint8_t>& answer, std::string_view key) {
    const auto end = std::find(answer.begin(), answer.end(), std::uint8_t{0});
    const std::string_view text(reinterpret_cast<const char*>(answer.data()),
                                static_cast<std::size_t>(end - answer.begin()));
    return FindValue(key, kSeparator, text, kTerminators);
}

CResultDef JudgeHead(bool sent, std::uint32_t statusCode, const std::string& device,
                     const std::string& path) {
    if (!sent || statusCode == 0) {
        return Failure(kResultNotSent, kLevelNotSent,
                       FormatString("%s: cannot send request \"%s\" to %s", kRequestGetRDName,
                                    path.c_str(), device.c_str()));
    }
    if (statusCode / 100 != 2) {
        return Failure(kResultRefused, kLevelError,
                       FormatString("%s: %s does not process request \"%s\", status code = %u",
                                    kRequestGetRDName, device.c_str(), path.c_str(), statusCode));
    }
    return CResultDef();
}

CResultDef JudgeAnswer(std::vector<std::uint8_t>& answer, const std::string& device,
                       const std::string& path) {
    CResultDef result;
    if (answer.empty()) {
        result = Failure(kResultEmptyAnswer, kLevelError,
                         FormatString("%s: incorrect response for request \"%s\" from %s",
                                      kRequestGetRDName, path.c_str(), device.c_str()));
    }
    answer.push_back(0);
    const std::string returnCode = ValueOf(answer, cgi::kReturnCode);
    if (!returnCode.empty() && returnCode != cgi::kReturnCodeDone) {
        // The camera's text is an argument, never part of the format.
        result = Failure(kResultRefused, kLevelError,
                         FormatString("%s: %s does not process request \"%s\", status code = %s",
                                      kRequestGetRDName, device.c_str(), path.c_str(),
                                      returnCode.c_str()));
    }
    return result;
}

CResultDef RequestGetRD(Web::CHttpSender& sender, const std::string& path,
                        std::vector<std::uint8_t>& answer) {
    const std::string device = DeviceText(sender.DeviceInfo());
    const Web::HttpRequest request("GET", path);
    answer.clear();
    const bool sent = sender.Send(request);
    CResultDef result = JudgeHead(sent, sent ? sender.StatusCode() : 0, device, path);
    if (result.m_code != kResultOk) {
        return result;
    }
    sender.ReadBody(answer);
    return JudgeAnswer(answer, device, path);
}

bool RequestGet(Web::CHttpSender& sender, const std::string& path,
                std::vector<std::uint8_t>& answer) {
    return RequestGetRD(sender, path, answer).m_code == kResultOk;
}

bool RequestSet(Web::CHttpSender& sender, const std::string& path, IDebugMessage* reporter) {
    return RequestSetRD(sender, path, reporter).m_code == kResultOk;
}

CResultDef RequestSetRD(Web::CHttpSender& sender, const std::string& path,
                        IDebugMessage* reporter) {
    std::vector<std::uint8_t> answer;
    const CResultDef result = RequestGetRD(sender, path, answer);
    // A request abandoned because its owner is stopping is not a failure to report.
    if (result.m_code != kResultOk && !result.m_message.empty() && reporter != nullptr &&
        !sender.IsAborted() && MessageAllowed(*reporter)) {
        reporter->DebugMessage(static_cast<unsigned char>(result.m_level), "%s",
                               result.m_message.c_str());
    }
    return result;
}

bool MessageAllowed(IDebugMessage& reporter) {
    constexpr std::uint32_t kWrapAt = 0xFFFF;
    constexpr std::uint32_t kWrapTo = 0xFFF;
    // One indivisible step: several channel threads report through the same driver.
    std::uint32_t n = reporter.m_messageCount.load();
    std::uint32_t next = 0;
    do {
        next = n + 1 == kWrapAt ? kWrapTo : n + 1;
    } while (!reporter.m_messageCount.compare_exchange_weak(n, next));
    n = next;
    if (n < 15) {
        return true;
    }
    if (n < 255) {
        return n % 16 == 0;
    }
    if (n < 4095) {
        return n % 256 == 0;
    }
    if (n < 65535) {
        return n % 4096 == 0;
    }
    return (n & 0xFFFFU) == 0;
}

} // namespace norvane::HUtils
