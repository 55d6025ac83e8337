// CSimHttpServer: the simulated camera's HTTP control interface, GET
// /cgi-bin/action.fcgi?vtl_api=<function>&... answered with key=value lines ended by CR LF and a
// return_code line, over keep-alive connections with optional Basic or Digest authentication.
//
// Threads: Serve runs on one connection thread per connection, any number at once; the settings
// it reads and writes are guarded by the state's lock, the nonces by the authenticator's.
#pragma once

#include <string>

#include "sim_internal.h"
#include "sim_state.h"

namespace norvane::sim {

// A CGI answer: the HTTP status and the body.
struct CgiAnswer {
    int status = 200;
    std::string body;
};

// AnswerCgi answers the CGI request `uri` from the camera's settings, applying set_setup
// functions to them, and refuses the functions that `faults` names.
CgiAnswer AnswerCgi(const std::string& uri, const SimFaults& faults, const CameraSimConfig& config,
                    CameraSettings& settings);

class CSimHttpServer {
public:
    explicit CSimHttpServer(CSimState& state);

    // Serve answers the requests of one connection until it closes, fails or the simulator stops.
    void Serve(CConnection& connection);

private:
    CSimState& m_state;
    CAuthenticator m_auth;
};

} // namespace norvane::sim
