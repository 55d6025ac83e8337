// The sender of one playing RTSP session of the simulated camera.
#pragma once

#include <cstdint>

#include "sim_session.h"
#include "sim_state.h"

namespace norvane::sim {

// RunStreamer sends `session` until its stop event is set: the clip packetized frame by frame at
// the stream's frame rate with the packet faults in force, RTCP sender reports from the RTCP port,
// and a BYE at the end; what the client sends to the RTCP port is recorded in `state`. Runs on
// the session's own thread; `bindAddress` (network byte order) names the camera in the reports.
void RunStreamer(CRtspSession& session, CSimState& state, std::uint32_t bindAddress);

} // namespace norvane::sim
