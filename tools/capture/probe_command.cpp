// probe: the capability query, as a host asks it before adding a camera.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "commands.h"
#include "host_objects.h"

namespace vantrel::capture {
namespace {

// Collects what the driver reports into plain values.
class Results : public norvane::ICapabilityResults {
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
        explicit ResolutionItems(Results& owner) : results(owner) {}

        void Add(const char* text, uint32_t width, uint32_t height, uint32_t interval) override {
            results.resolutions.push_back({text != nullptr ? text : "", width, height, interval});
        }

        Results& results;
    };

    struct IntervalItems : norvane::IFrameIntervalList {
        explicit IntervalItems(Results& owner) : results(owner) {}

        void SetDefault(uint32_t interval) override { results.defaultInterval = interval; }

        void Add(uint32_t interval) override { results.intervals.push_back(interval); }

        Results& results;
    };

    std::vector<FieldItem> m_fields = std::vector<FieldItem>(5);
    std::vector<PropertyItem> m_properties = std::vector<PropertyItem>(4);
    ResolutionItems m_resolutions{*this};
    IntervalItems m_intervals{*this};
};

class Callback : public norvane::ICapabilityCallback {
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

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

void PrintJson(const Results& r) {
    std::printf("{\n  \"model\": %s,\n", JsonString(r.model).c_str());
    std::printf("  \"address\": %s,\n  \"port\": %s,\n", JsonString(r.Field(1)).c_str(),
                JsonString(r.Field(2)).c_str());
    std::printf("  \"alarmInput\": %s,\n  \"alarmOutput\": %s,\n",
                r.values.count(2) != 0U ? "true" : "false",
                r.values.count(3) != 0U ? "true" : "false");
    std::printf("  \"h265\": %s,\n",
                r.values.count(norvane::kCapabilityH265) != 0U ? "true" : "false");
    std::printf("  \"properties\": {");
    for (std::size_t i = 1; i <= 3; ++i) {
        std::printf("%s%s: %s", i > 1 ? ", " : "", JsonString(r.PropertyAt(i).name).c_str(),
                    JsonString(r.PropertyAt(i).text).c_str());
    }
    std::printf("},\n  \"resolutions\": [");
    for (std::size_t i = 0; i < r.resolutions.size(); ++i) {
        const auto& res = r.resolutions[i];
        std::printf("%s\n    {\"size\": %s, \"width\": %u, \"height\": %u, \"minInterval\": %u}",
                    i > 0 ? "," : "", JsonString(res.text).c_str(), res.width, res.height,
                    res.interval);
    }
    std::printf("\n  ],\n  \"frameIntervals\": [");
    for (std::size_t i = 0; i < r.intervals.size(); ++i) {
        std::printf("%s%u", i > 0 ? ", " : "", r.intervals[i]);
    }
    std::printf("],\n  \"defaultInterval\": %u,\n  \"values\": {", r.defaultInterval);
    bool first = true;
    for (const auto& [id, value] : r.values) {
        std::printf("%s\"%u\": %u", first ? "" : ", ", id, value);
        first = false;
    }
    std::printf("}\n}\n");
}

void PrintTable(const Results& r) {
    std::printf("Model           %s\n", r.model.c_str());
    std::printf("Address         %s:%s\n", r.Field(1).c_str(), r.Field(2).c_str());
    for (std::size_t i = 1; i <= 3; ++i) {
        std::printf("%-15s %s\n", r.PropertyAt(i).name.c_str(), r.PropertyAt(i).text.c_str());
    }
    std::printf("Alarm input     %s\nAlarm output    %s\n", r.values.count(2) != 0U ? "yes" : "no",
                r.values.count(3) != 0U ? "yes" : "no");
    std::printf("H.265           %s\n",
                r.values.count(norvane::kCapabilityH265) != 0U ? "yes" : "not reported");
    std::printf("Resolutions    ");
    for (const auto& res : r.resolutions) {
        std::printf(" %s", res.text.c_str());
    }
    std::printf("\nIntervals (ms) ");
    for (const uint32_t interval : r.intervals) {
        std::printf(" %u", interval);
    }
    std::printf(" (default %u)\n", r.defaultInterval);
}

} // namespace

int RunProbe(const Options& options, Plugin& plugin, const CameraEndpoint& camera) {
    Callback callback;
    Results results;
    if (plugin.initQuery(&callback, options.ntsc ? 1 : 0) != 1) {
        ConsoleDebugSink::Print("vantrel-capture: error: a capability query is already running");
        return kExitPlugin;
    }
    if (plugin.startQuery(camera.host.c_str(), camera.httpPort, camera.user.c_str(),
                          camera.password.c_str(), &results) != 1) {
        plugin.uninitQuery();
        ConsoleDebugSink::Print("vantrel-capture: error: the capability query could not start");
        return kExitPlugin;
    }
    const auto deadline =
            std::chrono::steady_clock::now() +
            std::chrono::milliseconds(static_cast<long long>(options.connectTimeoutSeconds * 1000));
    bool finished = false;
    while (!finished && !StopRequested() && std::chrono::steady_clock::now() < deadline) {
        finished = callback.Wait(std::chrono::milliseconds(100));
    }
    plugin.uninitQuery(); // after this no callback comes
    if (!finished) {
        ConsoleDebugSink::Print(
                std::string("vantrel-capture: error: ") +
                (StopRequested() ? "interrupted" : "the camera did not answer in time"));
        return StopRequested() ? kExitInterrupted : kExitCamera;
    }
    if (!callback.succeeded) {
        ConsoleDebugSink::Print("vantrel-capture: error: " + callback.message + " (code " +
                                std::to_string(callback.code) + ")");
        return kExitCamera;
    }
    if (options.json) {
        PrintJson(results);
    } else {
        PrintTable(results);
    }
    return kExitOk;
}

} // namespace vantrel::capture
