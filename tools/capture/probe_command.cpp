// probe: the capability query, as a host asks it before adding a camera, shown as a table or as
// typed JSON with named keys.
#include <cstdio>
#include <set>

#include "capability_query.h"
#include "commands.h"
#include "host_objects.h"
#include "json_text.h"

namespace vantrel::capture {
namespace {

// What the query found, in the words a user reads.
struct Capabilities {
    std::string model;
    std::string firmware; // empty when the camera names none
    std::string address;
    std::uint16_t httpPort = 80;
    std::uint16_t rtspPort = 554;
    std::uint32_t inputs = 0;
    std::uint32_t outputs = 0;
    std::string videoStandard; // "50 Hz" or "60 Hz"

    struct Codec {
        std::string name;      // h264, h265 or mjpeg
        std::string streamUrl; // where the driver takes it from
    };

    std::vector<Codec> codecs;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> sizes; // width, height
    std::vector<std::uint32_t> frameRates;                      // frames per second
    std::uint32_t defaultFrameRate = 0;
};

std::uint32_t RateOfInterval(std::uint32_t intervalMs) {
    return intervalMs == 0 ? 0 : (1000 + intervalMs / 2) / intervalMs;
}

Capabilities Describe(const CapabilityResults& r, const CameraEndpoint& camera) {
    Capabilities c;
    c.model = r.model;
    c.firmware = r.PropertyAt(kPropertyFirmware).text;
    if (c.firmware == "(none)") {
        c.firmware.clear();
    }
    c.address = camera.host;
    c.httpPort = camera.httpPort;
    c.rtspPort = camera.rtspPort.value_or(554);
    c.inputs = r.values.count(kCapabilityAlarmInput) != 0U ? r.values.at(kCapabilityAlarmInput) : 0;
    c.outputs =
            r.values.count(kCapabilityAlarmOutput) != 0U ? r.values.at(kCapabilityAlarmOutput) : 0;
    c.videoStandard = r.PropertyAt(kPropertyVideoStandard).text == "1" ? "60 Hz" : "50 Hz";
    const std::string base = "rtsp://" + camera.host + ":" + std::to_string(c.rtspPort) + "/";
    if (r.values.count(kCapabilityH264) != 0U) {
        c.codecs.push_back({"h264", base + "vtl_media/main"});
    }
    if (r.values.count(norvane::kCapabilityH265) != 0U) {
        c.codecs.push_back({"h265", base + "vtl_media/main"}); // the main stream, coded H.265
    }
    if (r.values.count(kCapabilityMjpeg) != 0U) {
        c.codecs.push_back({"mjpeg", base + "vtl_media/second"});
    }
    for (const auto& res : r.resolutions) {
        c.sizes.emplace_back(res.width, res.height);
    }
    std::set<std::uint32_t> rates;
    for (const std::uint32_t interval : r.intervals) {
        rates.insert(RateOfInterval(interval));
    }
    c.frameRates.assign(rates.begin(), rates.end());
    c.defaultFrameRate = RateOfInterval(r.defaultInterval);
    return c;
}

std::string Json(const Capabilities& c) {
    std::string sizes = "[";
    for (const auto& [width, height] : c.sizes) {
        sizes += (sizes.size() > 1 ? ", " : "") +
                 JsonObject().Add("width", width).Add("height", height).Text();
    }
    sizes += "]";
    std::string rates = "[";
    for (const std::uint32_t rate : c.frameRates) {
        rates += (rates.size() > 1 ? ", " : "") + std::to_string(rate);
    }
    rates += "]";
    // Every codec of this camera offers every size and rate.
    std::string codecs = "[";
    for (const auto& codec : c.codecs) {
        codecs += (codecs.size() > 1 ? ", " : "") +
                  JsonObject()
                          .Add("codec", codec.name)
                          .Add("stream_url", codec.streamUrl)
                          .AddRaw("sizes", sizes)
                          .AddRaw("frame_rates", rates)
                          .Add("default_frame_rate", c.defaultFrameRate)
                          .Text();
    }
    codecs += "]";
    JsonObject json;
    json.Add("model", c.model);
    if (c.firmware.empty()) {
        json.AddNull("firmware");
    } else {
        json.Add("firmware", c.firmware);
    }
    // The driver's query reads no serial number.
    return json.AddNull("serial")
            .Add("address", c.address)
            .AddRaw("ports", JsonObject().Add("http", c.httpPort).Add("rtsp", c.rtspPort).Text())
            .Add("inputs", c.inputs)
            .Add("outputs", c.outputs)
            .Add("video_standard", c.videoStandard)
            .AddRaw("codecs", codecs)
            .Text();
}

void PrintTable(const Capabilities& c) {
    std::printf("Model           %s\n", c.model.c_str());
    std::printf("Firmware        %s\n", c.firmware.empty() ? "(not given)" : c.firmware.c_str());
    std::printf("Serial number   (not read by the driver)\n");
    std::printf("HTTP            %s:%u\n", c.address.c_str(), static_cast<unsigned>(c.httpPort));
    std::printf("RTSP port       %u\n", static_cast<unsigned>(c.rtspPort));
    std::printf("Alarm inputs    %u\nRelay outputs   %u\n", c.inputs, c.outputs);
    std::printf("Video standard  %s\n", c.videoStandard.c_str());
    for (const auto& codec : c.codecs) {
        std::printf("Stream          %-6s %s\n", codec.name.c_str(), codec.streamUrl.c_str());
    }
    std::printf("Sizes          ");
    for (const auto& [width, height] : c.sizes) {
        std::printf(" %ux%u", width, height);
    }
    std::printf("\nFrame rates    ");
    for (const std::uint32_t rate : c.frameRates) {
        std::printf(" %u", rate);
    }
    std::printf(" fps (default %u)\n", c.defaultFrameRate);
}

} // namespace

int RunProbe(const Options& options, Plugin& plugin, const CameraEndpoint& camera) {
    CapabilityResults results;
    const CaptureEnd end =
            QueryCapabilities(plugin, camera, options.ntsc, options.connectTimeoutSeconds, results);
    if (end.exitCode != kExitOk) {
        ReportFailure(options, end.exitCode, end.reason);
        return end.exitCode;
    }
    const Capabilities capabilities = Describe(results, camera);
    if (options.json) {
        std::printf("%s\n", Json(capabilities).c_str());
    } else {
        PrintTable(capabilities);
    }
    return kExitOk;
}

} // namespace vantrel::capture
