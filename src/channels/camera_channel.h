// ICameraChannel: one video stream of one camera as the video capture object sees it: started,
// stopped, restarted with a new format, and asked for its state.
//
// Threads: called on the host's threads; the channel runs its own thread between Start and Stop.
#pragma once

#include <cstdint>

#include "rtp/rtp_reorder_window.h"

namespace norvane {

// What the host asked of a channel.
struct ChannelStartRecord {
    std::uint32_t frameInterval = 0; // milliseconds between frames
    std::uint32_t quality = 0;       // the host's quality value (turned into a bit rate)
    std::uint32_t width = 0;         // pixels
    std::uint32_t height = 0;        // pixels
};

// Channel states.
constexpr std::int32_t kStateStreaming = 0;  // a frame arrived after the last connection
constexpr std::int32_t kStateSignalLost = 2; // no frame for longer than the data time-out
constexpr std::int32_t kStateStopped = 3;    // stopped or connecting

class ICameraChannel {
public:
    virtual ~ICameraChannel() = default;
    virtual bool Start(const ChannelStartRecord* record) = 0;
    virtual void Stop() = 0;
    // Restart applies a new record but keeps the previous quality.
    virtual bool Restart(const ChannelStartRecord* record) = 0;
    virtual std::int32_t GetState() = 0;
    virtual void SetState(std::int32_t state) = 0;

    // GetReception copies how the channel's packets arrived; false for a channel without RTP.
    virtual bool GetReception(RtpReceptionCounters& /*counts*/) { return false; }
};

} // namespace norvane
