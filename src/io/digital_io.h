// CDigitalIO: the Vantrel camera's alarm input and relay output. It reads input 0 from the
// rise_alarm value of the camera's event status and switches the one relay output (whatever the
// output index) with an alarm-port request.
//
// Threads: WriteOutput on the output worker, PollInputs on the input poller (each also once on the
// host's thread inside StartIO, before the workers start); each uses its own HTTP sender, so each
// worker has its own connection and neither needs a lock. StopIO aborts a request under way.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "http/http_sender.h"
#include "io/io_base.h"

namespace norvane {

class CDigitalIO final : public CIOBase {
public:
    explicit CDigitalIO(IDriver* driver);
    ~CDigitalIO() override;

    bool WriteOutput(std::uint32_t index, std::uint32_t state) override;
    // PollInputs always succeeds: an unreachable camera or an unusable answer changes nothing and
    // is not a device failure.
    bool PollInputs() override;

    // SwitchRequest is the CGI request that puts the relay into `state` (1 on, other values off).
    static std::string SwitchRequest(std::uint32_t state);
    // InputStateFromStatus reads the input state from a status answer: 2 when rise_alarm reads as
    // a non-zero number, 1 otherwise; nothing when the key is missing or its value empty.
    static std::optional<std::uint32_t> InputStateFromStatus(std::string_view answer);

protected:
    void AbortDeviceRequests() override;
    void ResumeDeviceRequests() override;

private:
    std::unique_ptr<Web::CHttpSender> m_outputHttp;
    std::unique_ptr<Web::CHttpSender> m_inputHttp;
};

} // namespace norvane
