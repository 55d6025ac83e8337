// Waiting on sockets and events together, so that every blocking wait can be ended at once by a
// stop event.
#pragma once

#include <initializer_list>

#include "platform/event_handle.h"
#include "platform/socket.h"

namespace norvane::platform {

enum class WaitResult {
    Ready,   // the socket is ready for the asked direction
    Stopped, // the stop event is set
    Timeout,
    Error,
};

enum class WaitFor { Read, Write };

// WaitSocket waits until `socket` is ready for `what`, `stop` is set (may be null), or
// `timeoutMs` passes (negative: no limit). A set stop event wins over a ready socket.
WaitResult WaitSocket(const CSocket& socket, WaitFor what, CEventHandle* stop, int timeoutMs);

// WaitEvents waits for the first of `events` to be set; returns its index, -1 on time-out and
// -2 when the wait failed. Earlier events win when several are set. Null entries never fire.
int WaitEvents(std::initializer_list<CEventHandle*> events, int timeoutMs);

} // namespace norvane::platform
