// The capability query as a host asks it before adding a camera: its results as plain values,
// and the wait for its answer. Used by probe, and by io to learn the camera's outputs.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "capture_verdict.h"
#include "commands.h"

namespace vantrel::capture {

// Collects what the driver reports into plain values.
class CapabilityResults : public norvane::ICapabilityResults {
public:
    struct Property {
        std::string name;
        std::string text;
        uint32_t flag = 0;
    };

    struct Resolution {
        std::string text;
        uint32_t width = 0;
        uint32_t height = 0;
        uint32_t interval = 0;
    };

    void SetValue(uint32_t id, uint32_t value) override { values[id] = value; }

    void SetModelName(const char* name) override { model = name != nullptr ? name : ""; }

    norvane::ICapabilityField* GetConnectionField(uint32_t index) override {
        return &m_fields[index < m_fields.size() ? index : 0];
    }

    norvane::ICapabilityProperty* GetProperty(uint32_t index) override {
        return &m_properties[index < m_properties.size() ? index : 0];
    }

    norvane::IResolutionList* GetResolutionList() override { return &m_resolutions; }

    norvane::IFrameIntervalList* GetFrameIntervalList(uint32_t) override { return &m_intervals; }

    std::string model;
    std::map<uint32_t, uint32_t> values;
    std::vector<Resolution> resolutions;
    std::vector<uint32_t> intervals;
    uint32_t defaultInterval = 0;

    [[nodiscard]] std::string Field(std::size_t index) const { return m_fields[index].text; }

    [[nodiscard]] const Property& PropertyAt(std::size_t index) const {
        return m_properties[index].value;
    }

private:
    struct FieldItem : norvane::ICapabilityField {
        void SetText(const char* value) override { text = value != nullptr ? value : ""; }

        std::string text;
    };

    struct PropertyItem : norvane::ICapabilityProperty {
        void SetText(const char* text) override { value.text = text != nullptr ? text : ""; }

        void SetFlag(uint32_t flag) override { value.flag = flag; }

        void SetName(const char* name) override { value.name = name != nullptr ? name : ""; }

        void SetKind(uint32_t) override {}

        Property value;
    };

    struct ResolutionItems : norvane::IResolutionList {
        explicit ResolutionItems(CapabilityResults& owner) : results(owner) {}

        void Add(const char* text, uint32_t width, uint32_t height, uint32_t interval) override {
            results.resolutions.push_back({text != nullptr ? text : "", width, height, interval});
        }

        CapabilityResults& results;
    };

    struct IntervalItems : norvane::IFrameIntervalList {
        explicit IntervalItems(CapabilityResults& owner) : results(owner) {}

        void SetDefault(uint32_t interval) override { results.defaultInterval = interval; }

        void Add(uint32_t interval) override { results.intervals.push_back(interval); }

        CapabilityResults& results;
    };

    std::vector<FieldItem> m_fields = std::vector<FieldItem>(5);
    std::vector<PropertyItem> m_properties = std::vector<PropertyItem>(4);
    ResolutionItems m_resolutions{*this};
    IntervalItems m_intervals{*this};
};

class QueryCallback : public norvane::ICapabilityCallback {
public:
    void OnSucceeded() override { Finish(true, 0, ""); }

    void OnFailed(int32_t failureCode, const char* text) override {
        Finish(false, failureCode, text != nullptr ? text : "");
    }

    bool Wait(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> guard(m_mutex);
        return m_changed.wait_for(guard, timeout, [&] { return done; });
    }

    bool done = false;
    bool succeeded = false;
    int32_t code = 0;
    std::string message;

private:
    void Finish(bool ok, int32_t failureCode, std::string text) {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            done = true;
            succeeded = ok;
            code = failureCode;
            message = std::move(text);
        }
        m_changed.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
};

// The capability ids the driver sets (ICapabilityResults::SetValue).
constexpr std::uint32_t kCapabilityAlarmInput = 2;
constexpr std::uint32_t kCapabilityAlarmOutput = 3;
constexpr std::uint32_t kCapabilityH264 = 7;
constexpr std::uint32_t kCapabilityMjpeg = 8;
// The properties the driver names (ICapabilityResults::GetProperty).
constexpr std::size_t kPropertyVideoStandard = 1;
constexpr std::size_t kPropertyFirmware = 3;

// QueryCapabilities runs one query against `camera` within `timeoutSeconds`. On failure it
// returns the exit code and the reason (refused credentials told apart from an unreachable
// camera); kExitOk when `results` hold the answer.
CaptureEnd QueryCapabilities(Plugin& plugin, const CameraEndpoint& camera, bool ntsc,
                             double timeoutSeconds, CapabilityResults& results);

} // namespace vantrel::capture
