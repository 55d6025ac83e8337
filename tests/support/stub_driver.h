// StubDriver: an IDriver that answers every setting with a fixed default and hands out an
// allocator of the caller's choice. Header-only, so benchmarks and fuzz targets (which do not link
// the test support library) use it too.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "core/driver_interfaces.h"

namespace norvane::test {

template <class Allocator>
class StubDriver : public IDriver {
public:
    void DebugMessage(unsigned char /*level*/, const char* /*format*/, ...) override {}

    DEVICE_INFO GetDeviceInfo() override { return deviceInfo; }

    std::pair<std::int32_t, std::int32_t> GetIOCounts() override { return {0, 0}; }

    IHostSampleAllocator* GetSampleAllocator() override { return &allocator; }

    std::int32_t IsNtsc() override { return 0; }

    std::int32_t GetStreamType() override { return 3; }

    std::int32_t GetChannelCount() override { return 1; }

    std::string GetStringParameter(std::uint32_t /*index*/) override { return {}; }

    std::int32_t GetIntParameter(std::uint32_t /*index*/) override { return kNoIntParameter; }

    DEVICE_INFO deviceInfo;
    Allocator allocator;
};

} // namespace norvane::test
