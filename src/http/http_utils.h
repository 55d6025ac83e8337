// HUtils: one CGI exchange with the camera over a Web::CHttpSender ("/cgi-bin/action.fcgi?vtl_api="
// plus a function name and parameters, answered by key=value lines), its verdict as a CResultDef,
// and the throttle that thins out repeated failure messages.
//
// Threads: stateless; each call runs on the caller's thread with the caller's sender.
// MessageAllowed may run on several threads at once for one reporter.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/driver_interfaces.h"
#include "http/result_def.h"

namespace Web {
class CHttpSender;
}

namespace norvane::HUtils {

// Name that opens every message of a CGI exchange.
constexpr const char* kRequestGetRDName = "norvane::HUtils::RequestGetRD";

// DeviceText is "device <address>:<port>", the camera's name in messages.
std::string DeviceText(const DEVICE_INFO& device);

// ValueOf reads the value of `key` from a key=value answer ("key=value\r\n" lines); the text
// ends at the answer's first zero byte. Empty when the key is absent.
std::string ValueOf(const std::vector<std::uint8_t>& answer, std::string_view key);

// JudgeHead is the verdict on a request's response head: code 9 when nothing was received
// (`sent` false or status 0), code 6 for a status outside 2xx, else success.
CResultDef JudgeHead(bool sent, std::uint32_t statusCode, const std::string& device,
                     const std::string& path);

// JudgeAnswer is the verdict on a received body: code 10 when `answer` is empty, code 6 when its
// return_code refuses the request, else success. It appends the terminating zero byte to
// `answer`; code 10 is kept even if the empty answer's return_code check follows.
CResultDef JudgeAnswer(std::vector<std::uint8_t>& answer, const std::string& device,
                       const std::string& path);

// RequestGetRD sends GET `path` on `sender` and judges the outcome. `answer` receives the body
// and one zero byte; it stays empty when no body was read (no response, or an HTTP failure).
CResultDef RequestGetRD(Web::CHttpSender& sender, const std::string& path,
                        std::vector<std::uint8_t>& answer);

// RequestGet is RequestGetRD reduced to success; the answer stays with the caller.
bool RequestGet(Web::CHttpSender& sender, const std::string& path,
                std::vector<std::uint8_t>& answer);

// RequestSet performs a request whose answer only carries its verdict. A failure is reported
// through `reporter` (may be null) at its level when MessageAllowed lets it pass; nothing is
// reported while the sender is aborted (a stop under way).
bool RequestSet(Web::CHttpSender& sender, const std::string& path, IDebugMessage* reporter);
// RequestSetRD is RequestSet with its verdict.
CResultDef RequestSetRD(Web::CHttpSender& sender, const std::string& path, IDebugMessage* reporter);

// MessageAllowed counts one failure on `reporter` and says whether its message may pass: the
// first 14, then every 16th up to 254, every 256th up to 4094, then every 4096th (the counter
// cycles between 4095 and 65534).
bool MessageAllowed(IDebugMessage& reporter);

} // namespace norvane::HUtils
