// FakeDriver: an IDriver with settable settings that records its debug messages, for testing the
// driver's parts without a driver object.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "core/driver_interfaces.h"
#include "support/fakes.h"
#include "text/text_utils.h"

namespace norvane::test {

class FakeDriver : public IDriver {
public:
    void DebugMessage(unsigned char level, const char* format, ...) override
            __attribute__((format(printf, 3, 4))) {
        va_list args;
        va_start(args, format);
        std::string text = FormatStringV(format, args);
        va_end(args);
        std::lock_guard<std::mutex> guard(m_mutex);
        messages.push_back({level, std::move(text)});
    }

    DEVICE_INFO GetDeviceInfo() override {
        std::lock_guard<std::mutex> guard(m_mutex);
        return deviceInfo;
    }

    std::pair<std::int32_t, std::int32_t> GetIOCounts() override {
        std::lock_guard<std::mutex> guard(m_mutex);
        return {inputCount, outputCount};
    }

    IHostSampleAllocator* GetSampleAllocator() override {
        return withAllocator ? &allocator : nullptr;
    }

    std::int32_t IsNtsc() override { return ntsc; }

    std::int32_t GetStreamType() override { return streamType; }

    std::int32_t GetChannelCount() override { return channelCount; }

    std::string GetStringParameter(std::uint32_t index) override {
        const auto found = parameters.find(index);
        return found == parameters.end() || found->second == "(none)" ? std::string()
                                                                      : found->second;
    }

    std::int32_t GetIntParameter(std::uint32_t index) override {
        const auto found = parameters.find(index);
        std::int32_t value = 0;
        return found != parameters.end() && ParseInt(found->second, value) ? value
                                                                           : kNoIntParameter;
    }

    void SetIOCounts(std::int32_t inputs, std::int32_t outputs) {
        std::lock_guard<std::mutex> guard(m_mutex);
        inputCount = inputs;
        outputCount = outputs;
    }

    std::vector<DebugRecord> Messages() {
        std::lock_guard<std::mutex> guard(m_mutex);
        return messages;
    }

    DEVICE_INFO deviceInfo;
    std::int32_t inputCount = 1;
    std::int32_t outputCount = 1;
    FakeSampleAllocator allocator;
    bool withAllocator = true;
    std::int32_t ntsc = 0;
    std::int32_t streamType = 3;
    std::int32_t channelCount = 1;
    std::map<std::uint32_t, std::string> parameters;
    std::vector<DebugRecord> messages;

private:
    std::mutex m_mutex;
};

} // namespace norvane::test
