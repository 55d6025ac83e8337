// CEvent and CManualEvent: the stop and notification signals of the camera channels, pollable so
// that a channel thread can wait on a socket and its stop event together.
//
// Threads: Set, Reset and Wait may be called from any thread.
#pragma once

#include <memory>

#include "platform/event_handle.h"

namespace norvane {

class CEvent {
public:
    virtual ~CEvent();
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    // The platform event, or null when it could not be created (then every wait fails).
    [[nodiscard]] platform::CEventHandle* Handle() const { return m_handle.get(); }

    void Set();
    void Reset();

    // Wait returns true when the event is set within `milliseconds` (negative: no limit); false
    // for a time-out, a failed wait or a missing handle.
    bool Wait(int milliseconds);

    // IsSet tells whether a manual-reset event is set, without waiting.
    [[nodiscard]] bool IsSet() const;

protected:
    CEvent() = default;

    std::unique_ptr<platform::CEventHandle> m_handle;
};

// An unnamed manual-reset event, created not set.
class CManualEvent : public CEvent {
public:
    CManualEvent();
};

// An unnamed auto-reset event, created not set: a successful wait clears it.
class CAutoEvent : public CEvent {
public:
    CAutoEvent();
};

// WaitAny waits until `first` or `second` is set: returns 0 or 1 for the event that ended the
// wait (the first wins when both are set) and -1 for a time-out or a failed wait.
int WaitAny(CEvent& first, CEvent& second, int milliseconds);

} // namespace norvane
