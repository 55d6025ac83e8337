#include "http/vantrel_camera_properties.h"

#include <array>

#include "http/cgi_api.h"
#include "http/http_utils.h"
#include "text/text_utils.h"

namespace norvane {
namespace {

// Frame rates (frames per second) of the two video standards.
constexpr std::array<std::uint32_t, 9> kRates60Hz{30, 15, 10, 7, 6, 5, 4, 3, 2};
constexpr std::array<std::uint32_t, 8> kRates50Hz{25, 12, 8, 6, 5, 4, 3, 2};

struct Size {
    std::uint16_t width;
    std::uint16_t height;
};

// Sizes of every model, of models with "1M" or "2M" in their name, and of "2M" models only.
constexpr std::array<Size, 6> kBaseSizes{
        {{320, 240}, {352, 240}, {352, 288}, {640, 480}, {704, 480}, {704, 576}}};
constexpr std::array<Size, 3> kMegapixelSizes{{{1024, 768}, {1280, 720}, {1280, 1024}}};
constexpr Size kFullHdSize{1920, 1080};

constexpr std::uint32_t kMsPerSecond = 1000;

bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

} // namespace

CVantrelCameraProperties::CVantrelCameraProperties(const DEVICE_INFO& device,
                                                   std::uint32_t videoStandard)
    : CCameraPropertiesEx(device, videoStandard)
    , m_http(device)
    , m_videoStandard(videoStandard) {}

bool CVantrelCameraProperties::Fetch(const std::string& path, std::vector<std::uint8_t>& answer) {
    return HUtils::RequestGet(m_http, path, answer) && !answer.empty();
}

void CVantrelCameraProperties::Abort() {
    Cancel();
    m_http.Abort();
}

bool CVantrelCameraProperties::Query(std::int32_t& code) {
    bool result = ReadSystemInfo();
    if (result && !IsCancelled()) {
        result = ReadVideoSettings();
    }
    if (result && !IsCancelled()) {
        AddStreamCapabilities();
    }
    if (result && !IsCancelled()) {
        ReadAlarmPort();
    }
    m_queried = 1;
    if (!result) {
        code = kQueryFailedCode;
    }
    return result;
}

bool CVantrelCameraProperties::ReadSystemInfo() {
    std::vector<std::uint8_t> answer;
    if (!Fetch(cgi::Path(cgi::kGetSystemInfo), answer)) {
        return false;
    }
    std::string brand = HUtils::ValueOf(answer, cgi::kBrand);
    if (brand.empty()) {
        brand = kDefaultBrand;
    }
    const std::string hardware = HUtils::ValueOf(answer, cgi::kHardwareVersion);
    if (hardware.empty()) {
        return false;
    }
    m_brand = brand;
    m_model = brand + " " + hardware;
    m_firmware = HUtils::ValueOf(answer, cgi::kFirmwareVersion);
    return true;
}

bool CVantrelCameraProperties::ReadVideoSettings() {
    std::vector<std::uint8_t> answer;
    if (!Fetch(cgi::Path(cgi::kGetVideoCodec), answer)) {
        return false;
    }
    const std::string mode = HUtils::ValueOf(answer, cgi::kVideoStandard);
    if (!mode.empty()) {
        m_videoStandard = Contains(mode, "60") ? 1 : 0;
    }
    // A camera streaming H.265 now, or listing it among its choices, offers it; one that says
    // neither is not taken to.
    m_h265 = HUtils::ValueOf(answer, cgi::kMainCodec) == "h265" ||
             Contains(HUtils::ValueOf(answer, cgi::kMainCodecOptions), "h265");
    return true;
}

void CVantrelCameraProperties::AddStreamCapabilities() {
    if (m_videoStandard == 1) {
        m_frameRates.insert(kRates60Hz.begin(), kRates60Hz.end());
    } else {
        m_frameRates.insert(kRates50Hz.begin(), kRates50Hz.end());
    }
    const std::uint32_t maxRate = *m_frameRates.rbegin();
    const std::uint32_t interval = kMsPerSecond / maxRate;
    for (const Size& size : kBaseSizes) {
        AddResolution(size.width, size.height, interval, maxRate);
    }
    if (Contains(m_model, "1M") || Contains(m_model, "2M")) {
        for (const Size& size : kMegapixelSizes) {
            AddResolution(size.width, size.height, interval, maxRate);
        }
    }
    if (Contains(m_model, "2M")) {
        AddResolution(kFullHdSize.width, kFullHdSize.height, interval, maxRate);
    }
    m_codecs.push_back(kCodec1);
    m_codecs.push_back(kCodec16);
}

void CVantrelCameraProperties::AddResolution(std::uint16_t width, std::uint16_t height,
                                             std::uint32_t interval, std::uint32_t maxRate) {
    for (const ResolutionEntry& entry : m_resolutions) {
        if (entry.width != 0 && entry.width == width && entry.height == height) {
            return;
        }
    }
    ResolutionEntry entry;
    entry.width = width;
    entry.height = height;
    if (interval >= maxRate) {
        entry.intervals.push_back(interval);
    }
    m_resolutions.push_back(std::move(entry));
}

void CVantrelCameraProperties::ReadAlarmPort() {
    std::vector<std::uint8_t> answer;
    if (!Fetch(cgi::Path(cgi::kGetAlarmPort), answer)) {
        return;
    }
    if (!HUtils::ValueOf(answer, cgi::kInputEnable).empty()) {
        m_alarmInput = 1;
    }
    if (!HUtils::ValueOf(answer, cgi::kOutputMode).empty()) {
        m_alarmOutput = 1;
    }
}

bool CVantrelCameraProperties::Save(ICapabilityResults* results) {
    if (results == nullptr) {
        return false;
    }
    // Intervals in ms of each rate, rounded half up like every rate conversion of the driver.
    if (IFrameIntervalList* intervals = results->GetFrameIntervalList(1)) {
        for (const std::uint32_t rate : m_frameRates) {
            if (rate != 0) {
                intervals->Add(RateFromInterval(rate));
            }
        }
        const std::uint32_t maxRate = m_frameRates.empty() ? 0 : *m_frameRates.rbegin();
        intervals->SetDefault(RateFromInterval(maxRate)); // 0 gives 1
    }
    results->SetValue(kCapFlag4, 0);
    results->SetValue(kCapFlag5, 0);
    if (!CCameraPropertiesEx::Save(results)) {
        return false;
    }
    const std::string standard = FormatString("%u", m_videoStandard);
    const std::string rtspPort = FormatString("%u", m_rtspPort);

    struct Named {
        std::uint32_t index;
        const char* name;
        std::uint32_t flag;
        const char* text;
    };

    const std::array<Named, 3> properties{{
            {kPropertyVideoStandard, "Video standard", 0, standard.c_str()},
            {kPropertyRtspPort, "RTSP port", 0, rtspPort.c_str()},
            {kPropertyFirmware, "Firmware", 1, m_firmware.empty() ? "(none)" : m_firmware.c_str()},
    }};
    for (const Named& named : properties) {
        if (ICapabilityProperty* property = results->GetProperty(named.index)) {
            property->SetName(named.name);
            property->SetKind(0);
            property->SetFlag(named.flag);
            property->SetText(named.text);
        }
    }
    return true;
}

} // namespace norvane
