// Fake host objects shared by all tests: they record every call the driver makes, so tests assert
// on exactly what a recording server would see. All fakes are safe to call from several threads.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/slot0_ptr.h"
#include "norvane/norvane.h"

namespace norvane::test {

// One message as the debug sink received it.
struct DebugRecord {
    unsigned level = 0;
    std::string text;
};

class FakeDebugSink final : public IDebugSink {
    NORVANE_IMPLEMENT_SLOT0(FakeDebugSink)

public:
    void OnDebugInfo(CDebugInfoIf* info) override;

    std::vector<DebugRecord> Messages() const;
    // Count of messages whose text contains `fragment`.
    std::size_t CountContaining(const std::string& fragment) const;
    // WaitFor waits until a message containing `fragment` arrives; false after `timeout`.
    bool WaitFor(const std::string& fragment, std::chrono::milliseconds timeout) const;
    void Clear();

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<DebugRecord> m_messages;
};

// A host sample that records every call in order ("SetWidth(704)", "Commit()", ...).
class FakeSample final : public IHostSample {
    NORVANE_IMPLEMENT_SLOT0(FakeSample)

public:
    FakeSample(uint32_t code, uint32_t size, std::string name);

    uint8_t* GetBuffer() override;
    void SetLength(uint32_t length) override;
    void Commit() override;
    void SetFourCC(uint32_t fourcc) override;
    void SetHeight(uint32_t height) override;
    void SetWidth(uint32_t width) override;
    void SetImageSize(uint32_t code) override;

    uint32_t allocatedFourCC;
    uint32_t capacity;
    std::string driverName;
    std::vector<uint8_t> buffer;
    std::optional<uint32_t> length, fourcc, width, height, imageSize;
    int commits = 0;
    std::vector<std::string> calls;
};

// What the allocator was asked for.
struct AllocationRecord {
    uint32_t fourcc = 0;
    uint32_t capacity = 0;
    std::string driverName;
};

class FakeSampleAllocator final : public IHostSampleAllocator {
    NORVANE_IMPLEMENT_SLOT0(FakeSampleAllocator)

public:
    IHostSample* AllocateSample(uint32_t fourcc, uint32_t capacity,
                                const char* driverName) override;
    void ReleaseSample(IHostSample* sample) override;

    // Refuse the next `count` allocations (null samples).
    void FailNext(int count);
    std::vector<AllocationRecord> Allocations() const;
    std::size_t Outstanding() const; // allocated but not yet released
    std::size_t Released() const;

private:
    mutable std::mutex m_mutex;
    int m_failNext = 0;
    std::vector<AllocationRecord> m_allocations;
    std::size_t m_outstanding = 0;
    std::size_t m_released = 0;
};

// A frame as the sink saw it: the committed bytes and attributes.
struct FrameRecord {
    uint32_t fourcc = 0; // SetFourCC when called, else the allocation's code
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t imageSize = 0;
    std::vector<uint8_t> bytes;
    std::vector<std::string> calls;
};

class FakeFrameSink final : public IFrameSink {
    NORVANE_IMPLEMENT_SLOT0(FakeFrameSink)

public:
    bool OnFrame(IHostSample* sample) override;
    void OnSignalLost() override;

    // Behaviour of the next frames: accept, refuse, or throw.
    enum class Mode { Accept, Refuse, Throw };
    void SetMode(Mode mode);

    std::vector<FrameRecord> Frames() const;
    std::size_t FrameCount() const;
    int SignalLostCount() const;
    bool WaitForFrames(std::size_t count, std::chrono::milliseconds timeout) const;
    bool WaitForSignalLost(int count, std::chrono::milliseconds timeout) const;

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    Mode m_mode = Mode::Accept;
    std::vector<FrameRecord> m_frames;
    int m_signalLost = 0;
};

class FakeDeviceSettings final : public IDeviceSettings {
    NORVANE_IMPLEMENT_SLOT0(FakeDeviceSettings)

public:
    const char* GetModelName() override { return modelName.c_str(); }

    int32_t GetChannelCount() override { return channelCount; }

    int32_t GetInputCount() override { return inputCount; }

    int32_t GetOutputCount() override { return outputCount; }

    std::string modelName = "VT-100";
    int32_t channelCount = 1;
    int32_t inputCount = 1;
    int32_t outputCount = 1;
};

class FakeConnectionSettings final : public IConnectionSettings {
    NORVANE_IMPLEMENT_SLOT0(FakeConnectionSettings)

public:
    const char* GetAddress() override { return address.c_str(); }

    uint16_t GetPort() override { return port; }

    int32_t GetStreamType() override { return streamType; }

    const char* GetUserName() override { return userName.c_str(); }

    const char* GetPassword() override { return password.c_str(); }

    std::string address = "127.0.0.1";
    uint16_t port = 80;
    int32_t streamType = 3;
    std::string userName;
    std::string password;
};

class FakeOpenParams final : public IOpenParams {
    NORVANE_IMPLEMENT_SLOT0(FakeOpenParams)

public:
    IDeviceSettings* GetDeviceSettings() override { return &device; }

    IConnectionSettings* GetConnectionSettings() override { return &connection; }

    // Parameter `index` (from 1); null past the end of `parameters` or for an empty optional.
    const char* GetParameter(uint32_t index) override;

    FakeDeviceSettings device;
    FakeConnectionSettings connection;
    std::vector<std::optional<std::string>> parameters;
    std::vector<uint32_t> askedIndexes;
};

// Channel parameters: size, frame interval and quality in one object.
class FakeChannelParams final : public IChannelParams,
                                public IVideoFormat,
                                public IRate,
                                public IFrameSize {
    NORVANE_IMPLEMENT_SLOT0(FakeChannelParams)

public:
    FakeChannelParams(uint16_t w, uint16_t h, uint16_t interval, uint16_t q)
        : width(w)
        , height(h)
        , frameInterval(interval)
        , quality(q) {}

    IVideoFormat* GetVideoFormat() override { return this; }

    IRate* GetRate() override { return this; }

    IFrameSize* GetFrameSize() override { return this; }

    uint16_t GetFrameInterval() override { return frameInterval; }

    uint16_t GetQuality() override { return quality; }

    uint16_t GetWidth() override { return width; }

    uint16_t GetHeight() override { return height; }

    uint16_t width, height, frameInterval, quality;
};

class FakeIOCallback final : public IIOCallback {
    NORVANE_IMPLEMENT_SLOT0(FakeIOCallback)

public:
    void OnInputChanged(uint32_t input, uint32_t state) override;
    void OnIOFailure() override;

    // Every call in order: "input(0,2)" or "failure".
    std::vector<std::string> Events() const;
    bool WaitForEvents(std::size_t count, std::chrono::milliseconds timeout) const;

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<std::string> m_events;
};

class FakeCapabilityCallback final : public ICapabilityCallback {
    NORVANE_IMPLEMENT_SLOT0(FakeCapabilityCallback)

public:
    void OnSucceeded() override;
    void OnFailed(int32_t code, const char* message) override;

    // Every call in order: "succeeded" or "failed(3,<message>)".
    std::vector<std::string> Events() const;
    bool WaitForEvents(std::size_t count, std::chrono::milliseconds timeout) const;

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<std::string> m_events;
};

// Records every call on the results object and its items, in order, as text:
// "SetValue(0,1)", "SetModelName(M)", "Field(1).SetText(a)", "Property(2).SetName(RTSP port)",
// "Resolutions.Add(704x576,704,576,40)", "Intervals(1).SetDefault(33)", ...
class FakeCapabilityResults final : public ICapabilityResults {
    NORVANE_IMPLEMENT_SLOT0(FakeCapabilityResults)

public:
    FakeCapabilityResults();
    void SetValue(uint32_t id, uint32_t value) override;
    void SetModelName(const char* name) override;
    ICapabilityField* GetConnectionField(uint32_t index) override;
    ICapabilityProperty* GetProperty(uint32_t index) override;
    IResolutionList* GetResolutionList() override;
    IFrameIntervalList* GetFrameIntervalList(uint32_t list) override;

    std::vector<std::string> Calls() const;
    void Record(std::string call);

private:
    class Field;
    class Property;
    class Resolutions;
    class Intervals;

    mutable std::mutex m_mutex;
    std::vector<std::string> m_calls;
    std::vector<Slot0Ptr<ICapabilityField>> m_fields;
    std::vector<Slot0Ptr<ICapabilityProperty>> m_properties;
    Slot0Ptr<IResolutionList> m_resolutions;
    std::vector<Slot0Ptr<IFrameIntervalList>> m_intervals;
};

// Polls `condition` until it holds or `timeout` passes; for tests of threaded code.
bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

// HangingNameLookup stands for a dead resolver while it exists: every name lookup hangs until
// Release (or the end of the object), then answers `answer`. The destructor waits, boundedly, for
// the lookups it released to end, and restores the system's resolver.
class HangingNameLookup {
public:
    explicit HangingNameLookup(std::uint32_t answer);
    ~HangingNameLookup();
    HangingNameLookup(const HangingNameLookup&) = delete;
    HangingNameLookup& operator=(const HangingNameLookup&) = delete;

    void Release();
    // Entered is the number of lookups that reached the resolver.
    [[nodiscard]] int Entered() const;
};

} // namespace norvane::test
