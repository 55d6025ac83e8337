// Feeds arbitrary camera answers to the CGI verdict and the value lookup; checks the result codes
// and that the answer comes back with exactly one terminating zero byte added.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "http/http_utils.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> answer(data, data + size);
    const norvane::CResultDef result =
            norvane::HUtils::JudgeAnswer(answer, "device 192.0.2.10:80", "/cgi-bin/x");
    if (answer.size() != size + 1 || answer.back() != 0) {
        std::abort();
    }
    const bool knownCode = result.m_code == norvane::kResultOk ||
                           result.m_code == norvane::kResultRefused ||
                           result.m_code == norvane::kResultEmptyAnswer;
    if (!knownCode || (result.m_code == norvane::kResultOk) != result.m_message.empty()) {
        std::abort();
    }
    for (const char* key : {"brand", "hwver", "swver", "ff_mode", "in_enable", "out_mode"}) {
        const std::string value = norvane::HUtils::ValueOf(answer, key);
        if (value.find('\0') != std::string::npos) {
            std::abort();
        }
    }
    return 0;
}
