#include "io/digital_io.h"

#include <cstdlib>
#include <vector>

#include "http/cgi_api.h"
#include "http/http_utils.h"
#include "text/text_utils.h"

namespace norvane {

CDigitalIO::CDigitalIO(IDriver* driver)
    : CIOBase(driver)
    , m_outputHttp(std::make_unique<Web::CHttpSender>(driver->GetDeviceInfo()))
    , m_inputHttp(std::make_unique<Web::CHttpSender>(driver->GetDeviceInfo())) {}

CDigitalIO::~CDigitalIO() {
    // A host that deletes the driver without StopIO would leave the workers running on a
    // destroyed object; they are stopped here, before the senders they use are gone.
    StopWorkers();
}

std::string CDigitalIO::SwitchRequest(std::uint32_t state) {
    // Every switch also writes the alarm input settings and the output mode with its dwell time.
    return cgi::Path(cgi::kSetAlarmPort) + "&in_enable=yes&in_type=no&in_text=ALARM%201&out_oper=" +
           (state == kIOStateInactive ? "useron" : "useroff") + "&out_mode=transparent&out_dwell=5";
}

std::optional<std::uint32_t> CDigitalIO::InputStateFromStatus(std::string_view answer) {
    const std::size_t nul = answer.find('\0');
    const std::string value = FindValue(cgi::kRisingAlarm, "=", answer.substr(0, nul), "\r\n");
    if (value.empty()) {
        return std::nullopt;
    }
    // Leading blanks, an optional sign, then digits up to the first other character.
    const long number = std::strtol(value.c_str(), nullptr, 10);
    return number != 0 ? kIOStateActive : kIOStateInactive;
}

bool CDigitalIO::WriteOutput(std::uint32_t /*index*/, std::uint32_t state) {
    // A refusal is told with its status, so that a host can tell refused credentials.
    return HUtils::RequestSet(*m_outputHttp, SwitchRequest(state), m_driver);
}

bool CDigitalIO::PollInputs() {
    std::vector<std::uint8_t> answer;
    if (HUtils::RequestGet(*m_inputHttp, cgi::Path(cgi::kGetEventStatus), answer) &&
        !answer.empty()) {
        const std::string_view text(reinterpret_cast<const char*>(answer.data()), answer.size());
        if (const auto state = InputStateFromStatus(text)) {
            UpdateInput(0, *state);
        }
    }
    return true;
}

void CDigitalIO::AbortDeviceRequests() {
    m_outputHttp->Abort();
    m_inputHttp->Abort();
}

void CDigitalIO::ResumeDeviceRequests() {
    m_outputHttp->Rearm();
    m_inputHttp->Rearm();
}

} // namespace norvane
