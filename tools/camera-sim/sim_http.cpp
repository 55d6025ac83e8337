#include "sim_http.h"

#include <cstdlib>

namespace norvane::sim {

namespace {

constexpr char kCgiPath[] = "/cgi-bin/action.fcgi";
constexpr char kReturnOk[] = "0x00000000";
constexpr char kReturnUnknownFunction[] = "0x80000001";
constexpr char kReturnBadParameter[] = "0x80000003";

const char* ReasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Error";
    }
}

std::string KeyValueBody(const Settings& values, const std::string& returnCode) {
    std::string body;
    for (const auto& [key, value] : values) {
        body += key + "=" + value + "\r\n";
    }
    body += "return_code=" + returnCode + "\r\n";
    return body;
}

bool ValidSize(const std::string& text) {
    const std::size_t x = text.find('x');
    if (x == std::string::npos) {
        return false;
    }
    const auto width = ParseUnsigned(text.substr(0, x));
    const auto height = ParseUnsigned(text.substr(x + 1));
    return width && height && *width >= 16 && *height >= 16 && *width <= 4096 && *height <= 4096;
}

bool ValidRate(const std::string& text) {
    // "25", "12.5": digits with at most one decimal point.
    if (text.empty() || text.size() > 8) {
        return false;
    }
    int dots = 0;
    for (char c : text) {
        if (c == '.') {
            ++dots;
        } else if (c < '0' || c > '9') {
            return false;
        }
    }
    const double value = std::strtod(text.c_str(), nullptr);
    return dots <= 1 && text.front() != '.' && text.back() != '.' && value > 0.0 && value <= 60.0;
}

// ValidCodecValue checks one parameter of set_setup.video.codec; unknown names are refused, and
// h265 by a camera that does not take it.
bool ValidCodecValue(const std::string& name, const std::string& value, bool h265) {
    if (name == "codec0") {
        return value == "h264" || (h265 && value == "h265");
    }
    if (name == "codec1") {
        return value == "none" || value == "mjpeg" || value == "h264";
    }
    if (name == "resolution0" || name == "resolution1") {
        return ValidSize(value);
    }
    if (name == "bitctrl0" || name == "bitctrl1") {
        return value == "cbr" || value == "vbr";
    }
    if (name == "bitavr0" || name == "bitavr1") {
        const auto rate = ParseUnsigned(value);
        return rate && *rate >= 32 && *rate <= 20000;
    }
    if (name == "fps0" || name == "fps1") {
        return ValidRate(value);
    }
    if (name == "ff_mode") {
        return value == "50" || value == "60";
    }
    if (name == "mirror_mode") {
        return value == "none" || value == "mirror" || value == "flip" || value == "both";
    }
    if (name == "bandon") {
        return value == "yes" || value == "no";
    }
    if (name == "bandwidth") {
        return ParseUnsigned(value).has_value();
    }
    return false;
}

bool ValidAlarmPortValue(const std::string& name, const std::string& value) {
    if (name == "in_enable") {
        return value == "yes" || value == "no";
    }
    if (name == "in_type") {
        return value == "no" || value == "nc";
    }
    if (name == "in_text") {
        return value.size() <= 64;
    }
    if (name == "out_oper") {
        return value == "useron" || value == "useroff";
    }
    if (name == "out_mode") {
        return value == "transparent" || value == "pulse";
    }
    if (name == "out_dwell") {
        const auto dwell = ParseUnsigned(value);
        return dwell && *dwell <= 3600;
    }
    return false;
}

// ApplySettings writes the parameters into `settings` when every one is known and valid.
template <typename Validate>
bool ApplySettings(const Settings& parameters, Settings& settings, Validate validate) {
    for (const auto& [name, value] : parameters) {
        if (name != "vtl_api" && !validate(name, value)) {
            return false;
        }
    }
    for (const auto& [name, value] : parameters) {
        for (auto& [key, current] : settings) {
            if (key == name) {
                current = value;
            }
        }
    }
    return true;
}

} // namespace

CgiAnswer AnswerCgi(const std::string& uri, const SimFaults& faults, const CameraSimConfig& config,
                    CameraSettings& settings) {
    const std::size_t question = uri.find('?');
    const std::string path = uri.substr(0, question);
    if (path != kCgiPath) {
        return {404, "404 Not Found\r\n"};
    }
    const auto parameters =
            ParseQuery(question == std::string::npos ? std::string_view()
                                                     : std::string_view(uri).substr(question + 1));
    if (!parameters || parameters->empty() || parameters->front().first != "vtl_api") {
        return {400, "400 Bad Request\r\n"};
    }
    const std::string& function = parameters->front().second;
    const auto refused = faults.refusedCgi.find(function);
    if (refused != faults.refusedCgi.end()) {
        const auto httpStatus = ParseUnsigned(refused->second);
        if (httpStatus && *httpStatus >= 300 && *httpStatus <= 599) {
            const int status = static_cast<int>(*httpStatus);
            return {status, std::to_string(status) + " " + ReasonPhrase(status) + "\r\n"};
        }
        return {200, KeyValueBody({}, refused->second.empty() ? "0x80000002" : refused->second)};
    }
    if (function == "get_setup.system.info") {
        return {200, KeyValueBody({{"brand", config.brand},
                                   {"hwver", config.hwver},
                                   {"swver", config.swver},
                                   {"model", config.brand + " " + config.hwver},
                                   {"serial", "VT0000000001"}},
                                  kReturnOk)};
    }
    if (function == "get_setup.video.codec") {
        return {200, KeyValueBody(settings.codec, kReturnOk)};
    }
    if (function == "set_setup.video.codec") {
        return {200,
                KeyValueBody({},
                             ApplySettings(*parameters, settings.codec,
                                           [&](const std::string& name, const std::string& value) {
                                               return ValidCodecValue(name, value, config.h265);
                                           })
                                     ? kReturnOk
                                     : kReturnBadParameter)};
    }
    if (function == "get_setup.event.alarm_port") {
        return {200, KeyValueBody(settings.alarmPort, kReturnOk)};
    }
    if (function == "set_setup.event.alarm_port") {
        if (!ApplySettings(*parameters, settings.alarmPort, ValidAlarmPortValue)) {
            return {200, KeyValueBody({}, kReturnBadParameter)};
        }
        for (const auto& [name, value] : *parameters) {
            if (name == "out_oper") {
                settings.relayOutput = value == "useron";
                ++settings.relaySwitches;
            }
        }
        return {200, KeyValueBody({}, kReturnOk)};
    }
    if (function == "get_setup.event.status") {
        return {200, KeyValueBody({{"rise_alarm", settings.alarmInput ? "1" : "0"},
                                   {"motion_alarm", "0"},
                                   {"out_status", settings.relayOutput ? "1" : "0"}},
                                  kReturnOk)};
    }
    return {200, KeyValueBody({}, kReturnUnknownFunction)};
}

CSimHttpServer::CSimHttpServer(CSimState& state)
    : m_state(state)
    , m_auth(state.Config().httpAuth, state.Config().user, state.Config().password,
             state.Config().realm, state.Config().httpDigestQop, state.Config().digestAlgorithm) {}

void CSimHttpServer::Serve(CConnection& connection) {
    while (true) {
        ReceivedRequest request;
        const auto read = connection.Read(request, kIdleConnectionMs);
        if (read == CConnection::ReadResult::Malformed) {
            (void)connection.Send(FormatReply("HTTP/1.1 400 Bad Request",
                                              {{"Content-Length", "0"}, {"Connection", "close"}},
                                              ""),
                                  SimFaults{});
            return;
        }
        if (read != CConnection::ReadResult::Ok) {
            return;
        }
        m_state.LogRequest(LogEntry(LoggedRequest::Protocol::Http, request));
        const SimFaults faults = m_state.Faults();
        // HTTP/1.1 keeps the connection unless told otherwise; HTTP/1.0 only when asked.
        const auto connectionHeader = request.head.Header("Connection");
        bool keepAlive = request.version == "HTTP/1.1";
        if (connectionHeader) {
            if (EqualsNoCase(*connectionHeader, "close")) {
                keepAlive = false;
            } else if (EqualsNoCase(*connectionHeader, "keep-alive")) {
                keepAlive = true;
            }
        }
        Headers headers = {{"Server", "Vantrel-Web"}, {"Content-Type", "text/plain"}};
        int status = 200;
        std::string body;
        if (request.version != "HTTP/1.1" && request.version != "HTTP/1.0") {
            status = 400;
            keepAlive = false;
        } else if (faults.httpAlways401 ||
                   !m_auth.Check(request.method, request.head.Header("Authorization"))) {
            status = 401;
            headers.emplace_back("WWW-Authenticate", m_auth.Challenge());
            body = "401 Unauthorized\r\n";
        } else if (request.method != "GET") {
            status = 405;
            headers.emplace_back("Allow", "GET");
        } else {
            const CgiAnswer answer = m_state.WithSettings([&](CameraSettings& settings) {
                return AnswerCgi(request.uri, faults, m_state.Config(), settings);
            });
            status = answer.status;
            body = answer.body;
        }
        headers.emplace_back("Content-Length", std::to_string(body.size()));
        headers.emplace_back("Connection", keepAlive ? "keep-alive" : "close");
        const std::string reply = FormatReply(
                "HTTP/1.1 " + std::to_string(status) + " " + ReasonPhrase(status), headers, body);
        if (!connection.Send(reply, faults) || !keepAlive) {
            return;
        }
    }
}

} // namespace norvane::sim
