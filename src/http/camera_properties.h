// Camera properties: what a camera offers (model, firmware, resolutions with their frame
// intervals, codecs, alarm input and output) and how it is handed to the host's results object.
// CCameraProperties holds the data, CCameraPropertiesEx adds the query interface, the cancel flag
// and the connection settings; a camera family supplies Query.
//
// Threads: Query and Save run on the capability-query worker; Cancel and Abort may come from the
// host's thread at any time (they touch only atomic state and the sender's abort).
// Owner: the capability query, until UninitCapabilityQuery.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "core/device_info.h"
#include "norvane/capability.h"

namespace norvane {

// One picture size; `intervals` lists the frame intervals (ms) offered at it, shortest first.
struct ResolutionEntry {
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::vector<std::uint32_t> intervals;
};

// Capability ids of ICapabilityResults::SetValue.
constexpr std::uint32_t kCapQueried = 0;
constexpr std::uint32_t kCapFlag2 = 1;
constexpr std::uint32_t kCapAlarmInput = 2;
constexpr std::uint32_t kCapAlarmOutput = 3;
constexpr std::uint32_t kCapFlag1 = 4;
constexpr std::uint32_t kCapFlag3 = 5;
constexpr std::uint32_t kCapCodec4 = 6;
constexpr std::uint32_t kCapCodec1or2 = 7;
constexpr std::uint32_t kCapCodec16 = 8;
constexpr std::uint32_t kCapFlag4 = 11;
constexpr std::uint32_t kCapFlag5 = 12;
constexpr std::uint32_t kCapH265 = norvane::kCapabilityH265;

// Codec codes of m_codecs.
constexpr std::uint32_t kCodec1 = 1;
constexpr std::uint32_t kCodec2 = 2;
constexpr std::uint32_t kCodec4 = 4;
constexpr std::uint32_t kCodec16 = 16;

// Result code of a failed Query.
constexpr std::int32_t kQueryFailedCode = 3;

class CCameraProperties {
public:
    std::vector<std::uint32_t> m_codecs;
    std::vector<ResolutionEntry> m_resolutions;
    std::string m_brand;
    std::string m_model;
    std::uint32_t m_queried = 0;
    std::uint32_t m_alarmInput = 0;
    std::uint32_t m_alarmOutput = 0;
    // Flags reported under the ids 4, 1, 5, 11 and 12, in this order.
    std::array<std::uint8_t, 5> m_flags{};
    // The camera said it can stream H.265 on its main stream; reported under kCapH265 only then,
    // so that hosts of cameras without H.265 get exactly the values they always got.
    bool m_h265 = false;
};

class CCameraPropertiesEx : public CCameraProperties {
public:
    CCameraPropertiesEx(const DEVICE_INFO& device, std::uint32_t videoStandard);
    virtual ~CCameraPropertiesEx() = default;
    CCameraPropertiesEx(const CCameraPropertiesEx&) = delete;
    CCameraPropertiesEx& operator=(const CCameraPropertiesEx&) = delete;

    // Query reads the camera. On failure it sets `code` to kQueryFailedCode; on success `code`
    // is left alone. A cancelled query returns true with what it gathered.
    virtual bool Query(std::int32_t& code) = 0;

    // Save hands the data to the host's results object: the model, the capability values, the
    // resolutions and the connection fields. False (no call) for a null object.
    virtual bool Save(ICapabilityResults* results);

    // Cancel makes a running Query skip its remaining steps. Any thread.
    virtual void Cancel() { m_cancel.store(true); }

    // Abort cancels and also ends a camera request in progress at once. Any thread.
    virtual void Abort() { Cancel(); }

    [[nodiscard]] bool IsCancelled() const { return m_cancel.load(); }

protected:
    std::atomic<bool> m_cancel{false};
    DEVICE_INFO m_deviceInfo;
    std::uint32_t m_initialStandard;
};

} // namespace norvane
