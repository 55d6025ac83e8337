// CResultDef: the verdict of one CGI exchange with the camera: success, or a numbered failure
// with the level and the ready-made text of its diagnostic message.
#pragma once

#include <cstdint>
#include <string>

namespace norvane {

// Result codes of a CGI exchange.
constexpr std::uint32_t kResultOk = 0;
constexpr std::uint32_t kResultRefused = 6; // HTTP status outside 2xx, or a refusing return_code
constexpr std::uint32_t kResultNotSent = 9; // no response head, or status 0
constexpr std::uint32_t kResultEmptyAnswer = 10; // the response body was empty

// Message levels of the results (the driver's debug message levels).
constexpr std::uint32_t kLevelError = 1;
constexpr std::uint32_t kLevelInfo = 2;
constexpr std::uint32_t kLevelNotSent = 3;

class CResultDef {
public:
    virtual ~CResultDef() = default;

    std::uint32_t m_level = kLevelInfo;
    std::uint32_t m_code = kResultOk;
    std::string m_message; // empty on success
};

} // namespace norvane
