// Diagnose: when the driver reports that a request could not be sent, find out why for the user:
// nobody answers at the camera's address, or the camera answers but demands credentials that
// were refused.
#pragma once

#include <cstdint>
#include <string>

namespace vantrel::capture {

enum class CameraDiagnosis {
    Unreachable,      // no TCP connection to the camera's HTTP port
    NeedsCredentials, // the camera answers 401: the credentials given were refused
    Answers,          // the camera answers without asking for credentials
    NotHttp,          // something answers, but not with an HTTP status line
};

// How long the camera's HTTP port may take to answer the diagnosis.
constexpr int kDiagnoseTimeoutMs = 3000;

// DiagnoseCamera sends one request without credentials to the camera's CGI interface and reads
// the status line, within `timeoutMs`.
CameraDiagnosis DiagnoseCamera(const std::string& host, std::uint16_t port, int timeoutMs);

} // namespace vantrel::capture
