// The host side of vantrel-capture: the objects a recording server hands to the driver (debug
// sink, sample allocator and samples, open parameters, channel parameters, frame sink, I/O and
// capability callbacks), implemented for a command-line tool.
//
// Threads: the driver calls the sink, allocator, samples and frame sink from its receive threads
// and the debug sink from any thread; every object here is safe for that.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "frame_writer.h"
#include "norvane/norvane.h"

namespace vantrel::capture {

// Prints the driver's messages with their level to stderr and remembers what they said about
// refused credentials and unreachable cameras. Every line starts with the time of day.
class ConsoleDebugSink : public norvane::IDebugSink {
public:
    // The driver's errors (levels 1 and 3) are always printed, its information (level 2) from
    // kVerbosityVerbose on.
    ConsoleDebugSink() = default;

    void OnDebugInfo(CDebugInfoIf* info) override;

    [[nodiscard]] bool CredentialsRefused() const { return m_credentialsRefused.load(); }

    [[nodiscard]] bool Unreachable() const { return m_unreachable.load(); }

    [[nodiscard]] std::string LastError() const;

    // SetObserver hands every message text to `observer` too (from the driver's threads); set
    // before the driver is opened.
    void SetObserver(std::function<void(unsigned level, const std::string& text)> observer) {
        m_observer = std::move(observer);
    }

    // SetVerbosity chooses what Info and Detail print (kVerbosityQuiet ... kVerbosityVerbose).
    static void SetVerbosity(int verbosity);
    static int Verbosity();
    // Print writes a line on stderr whatever the verbosity (errors, the summary), clearing the
    // status line first.
    static void Print(const std::string& line);
    // Info prints from the normal verbosity on, Detail only when verbose.
    static void Info(const std::string& line);
    static void Detail(const std::string& line);
    // Status shows the status line: on a terminal redrawn in place, otherwise logged as a line.
    static void Status(const std::string& line);
    // IsTerminal tells whether stderr is a terminal (the status line is then kept in place).
    static bool IsTerminal();

private:
    std::atomic<bool> m_credentialsRefused{false};
    std::atomic<bool> m_unreachable{false};
    mutable std::mutex m_mutex;
    std::string m_lastError;
    std::function<void(unsigned, const std::string&)> m_observer;
};

// A host sample: a growable buffer and its attributes.
class Sample : public norvane::IHostSample {
public:
    uint8_t* GetBuffer() override { return buffer.data(); }

    void SetLength(uint32_t value) override { length = value; }

    void Commit() override { committed = true; }

    void SetFourCC(uint32_t value) override { fourcc = value; }

    void SetHeight(uint32_t value) override { height = value; }

    void SetWidth(uint32_t value) override { width = value; }

    void SetImageSize(uint32_t value) override { imageSize = value; }

    std::vector<uint8_t> buffer;
    uint32_t length = 0;
    uint32_t fourcc = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t imageSize = 0;
    bool committed = false;
};

// Hands out samples from a pool, so that a steady stream allocates nothing.
class PoolAllocator : public norvane::IHostSampleAllocator {
public:
    norvane::IHostSample* AllocateSample(uint32_t fourcc, uint32_t capacity,
                                         const char* driverName) override;
    void ReleaseSample(norvane::IHostSample* sample) override;

private:
    std::mutex m_mutex;
    std::vector<std::unique_ptr<Sample>> m_free;
    std::vector<std::unique_ptr<Sample>> m_busy;
};

class DeviceSettings : public norvane::IDeviceSettings {
public:
    const char* GetModelName() override { return model.c_str(); }

    int32_t GetChannelCount() override { return 1; }

    int32_t GetInputCount() override { return inputs; }

    int32_t GetOutputCount() override { return outputs; }

    std::string model = "Vantrel";
    int32_t inputs = 1;
    int32_t outputs = 1;
};

class ConnectionSettings : public norvane::IConnectionSettings {
public:
    const char* GetAddress() override { return address.c_str(); }

    uint16_t GetPort() override { return port; }

    int32_t GetStreamType() override { return streamType; }

    const char* GetUserName() override { return user.c_str(); }

    const char* GetPassword() override { return password.c_str(); }

    std::string address;
    uint16_t port = 80;
    int32_t streamType = 3;
    std::string user;
    std::string password;
};

class OpenParams : public norvane::IOpenParams {
public:
    norvane::IDeviceSettings* GetDeviceSettings() override { return &device; }

    norvane::IConnectionSettings* GetConnectionSettings() override { return &connection; }

    const char* GetParameter(uint32_t index) override;

    DeviceSettings device;
    ConnectionSettings connection;
    std::vector<std::string> parameters; // 1: video standard, 2: RTSP port, 3: firmware
};

class ChannelParams : public norvane::IChannelParams,
                      public norvane::IVideoFormat,
                      public norvane::IRate,
                      public norvane::IFrameSize {
public:
    norvane::IVideoFormat* GetVideoFormat() override { return this; }

    norvane::IRate* GetRate() override { return this; }

    norvane::IFrameSize* GetFrameSize() override { return this; }

    uint16_t GetFrameInterval() override { return frameInterval; }

    uint16_t GetQuality() override { return quality; }

    uint16_t GetWidth() override { return width; }

    uint16_t GetHeight() override { return height; }

    uint16_t width = 640;
    uint16_t height = 480;
    uint16_t frameInterval = 40;
    uint16_t quality = 50;
};

// Running totals of a capture, read by the status line.
struct CaptureStats {
    std::atomic<std::uint64_t> frames{0};
    std::atomic<std::uint64_t> keyFrames{0};
    std::atomic<std::uint64_t> bytes{0};
    std::atomic<std::uint64_t> signalLost{0};
    std::atomic<std::uint32_t> width{0};
    std::atomic<std::uint32_t> height{0};
    std::atomic<bool> writeFailed{false};
    // Steady-clock times of the first and the last frame in nanoseconds; 0 before the first.
    std::atomic<std::int64_t> firstFrameNs{0};
    std::atomic<std::int64_t> lastFrameNs{0};

    // WaitForLimit sleeps up to `wait`, or less when the frame limit is reached meanwhile: a run
    // of --frames ends with its last frame, not up to a tick later.
    void WaitForLimit(std::chrono::milliseconds wait) {
        std::unique_lock<std::mutex> lock(m_wakeMutex);
        m_wake.wait_for(lock, wait, [this] { return m_limitReached; });
    }

    void SignalLimit() {
        {
            std::lock_guard<std::mutex> lock(m_wakeMutex);
            m_limitReached = true;
        }
        m_wake.notify_all();
    }

private:
    std::mutex m_wakeMutex;
    std::condition_variable m_wake;
    bool m_limitReached = false;
};

// Writes every frame to the output and counts it; with a frame limit, frames after it are taken
// and dropped, so that the output holds exactly the frames asked for.
class FrameSink : public norvane::IFrameSink {
public:
    FrameSink(FrameWriter& writer, CaptureStats& stats, std::uint64_t frameLimit = 0)
        : m_writer(writer)
        , m_stats(stats)
        , m_frameLimit(frameLimit) {}

    bool OnFrame(norvane::IHostSample* sample) override;

    void OnSignalLost() override { ++m_stats.signalLost; }

private:
    std::mutex m_mutex;
    FrameWriter& m_writer;
    CaptureStats& m_stats;
    std::uint64_t m_frameLimit; // 0: none
};

// Prints alarm input changes and I/O failures.
class IOCallback : public norvane::IIOCallback {
public:
    void OnInputChanged(uint32_t input, uint32_t state) override;
    void OnIOFailure() override;
    std::atomic<int> changes{0};
    std::atomic<int> failures{0};
};

} // namespace vantrel::capture
