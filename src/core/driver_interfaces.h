// Internal service interfaces of the driver object: the message funnel every part reports
// through, the settings channels and I/O objects read, and the channel factory.
//
// Threads: the getters and DebugMessage are called from channel threads, UDP receive threads and
// I/O workers while the driver is open; they read fields written before any thread started.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>

#include "core/device_info.h"

namespace norvane {
class IHostSampleAllocator;
class IFrameSink;
class ICameraChannel;
} // namespace norvane

// IDebugMessage is the funnel of all diagnostic messages. It also carries the counter of the
// failure-message throttle (MessageAllowed), shared by every reporter of one driver.
class IDebugMessage {
public:
    virtual ~IDebugMessage() = default;

    // DebugMessage formats printf-style and hands the text with its level (1 error or loss,
    // 2 information, 3 a request that could not be sent) to the host's debug sink.
    virtual void DebugMessage(unsigned char level, const char* format, ...)
            __attribute__((format(printf, 3, 4))) = 0;

    std::atomic<std::uint32_t> m_messageCount{0};
};

namespace norvane {

// Value of a numbered parameter read as an integer when it is absent or not a number.
constexpr std::int32_t kNoIntParameter = static_cast<std::int32_t>(0x80000000U);

class IDriver : public IDebugMessage {
public:
    [[nodiscard]] virtual DEVICE_INFO GetDeviceInfo() = 0;
    // GetIOCounts returns the input count, then the output count.
    [[nodiscard]] virtual std::pair<std::int32_t, std::int32_t> GetIOCounts() = 0;
    [[nodiscard]] virtual IHostSampleAllocator* GetSampleAllocator() = 0;
    [[nodiscard]] virtual std::int32_t IsNtsc() = 0; // 1 = 60 Hz, 0 = 50 Hz
    [[nodiscard]] virtual std::int32_t GetStreamType() = 0;
    [[nodiscard]] virtual std::int32_t GetChannelCount() = 0;
    // GetStringParameter returns parameter `index`; empty when absent or exactly "(none)".
    [[nodiscard]] virtual std::string GetStringParameter(std::uint32_t index) = 0;
    // GetIntParameter returns parameter `index` as a number; kNoIntParameter when absent or not a
    // number.
    [[nodiscard]] virtual std::int32_t GetIntParameter(std::uint32_t index) = 0;
};

// The channel factory the video capture object calls for each video input.
class ICustomCreator {
public:
    virtual ~ICustomCreator() = default;
    // CreateChannel returns a new channel owned by the caller, or null when the driver serves no
    // channel for its stream type.
    virtual ICameraChannel* CreateChannel(std::uint32_t index, IFrameSink* sink) = 0;
};

} // namespace norvane
