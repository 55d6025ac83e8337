// CVantrelCameraProperties: the camera properties of a Vantrel camera, read over three CGI
// requests (system information, video settings, alarm port) and completed with the sizes, frame
// rates and codecs that the camera's model and video standard imply.
//
// Threads: as CCameraPropertiesEx; Abort reaches the sender from another thread.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/parameters.h"
#include "http/camera_properties.h"
#include "http/http_sender.h"

namespace norvane {

// CGI paths of the query.

// Brand of a camera whose system information names none.
constexpr const char* kDefaultBrand = "Vantrel";

// Named properties given to the host.
constexpr std::uint32_t kPropertyVideoStandard = 1;
constexpr std::uint32_t kPropertyRtspPort = 2;
constexpr std::uint32_t kPropertyFirmware = 3;

class CVantrelCameraProperties : public CCameraPropertiesEx {
public:
    // `videoStandard`: 1 = 60 Hz family, 0 = 50 Hz family, kept when the camera does not say.
    CVantrelCameraProperties(const DEVICE_INFO& device, std::uint32_t videoStandard);

    bool Query(std::int32_t& code) override;
    bool Save(ICapabilityResults* results) override;
    void Abort() override;

    [[nodiscard]] std::uint32_t VideoStandard() const { return m_videoStandard; }

    [[nodiscard]] const std::set<std::uint32_t>& FrameRates() const { return m_frameRates; }

    [[nodiscard]] const std::string& Firmware() const { return m_firmware; }

protected:
    // Fetch performs one CGI request; true with the answer (body and zero byte) on success.
    virtual bool Fetch(const std::string& path, std::vector<std::uint8_t>& answer);

private:
    bool ReadSystemInfo();
    bool ReadVideoSettings();
    void AddStreamCapabilities();
    void ReadAlarmPort();
    void AddResolution(std::uint16_t width, std::uint16_t height, std::uint32_t interval,
                       std::uint32_t maxRate);

    Web::CHttpSender m_http;
    std::uint32_t m_videoStandard;
    std::set<std::uint32_t> m_frameRates;
    std::string m_firmware;
    std::uint32_t m_rtspPort = kDefaultRtspPort;
};

} // namespace norvane
