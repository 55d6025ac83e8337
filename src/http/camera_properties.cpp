#include "http/camera_properties.h"

#include "text/text_utils.h"

namespace norvane {

CCameraPropertiesEx::CCameraPropertiesEx(const DEVICE_INFO& device, std::uint32_t videoStandard)
    : m_deviceInfo(device)
    , m_initialStandard(videoStandard) {}

bool CCameraPropertiesEx::Save(ICapabilityResults* results) {
    if (results == nullptr) {
        return false;
    }
    results->SetModelName(m_model.c_str());
    results->SetValue(kCapQueried, m_queried);
    if (m_alarmInput > 0) {
        results->SetValue(kCapAlarmInput, m_alarmInput);
    }
    if (m_alarmOutput > 0) {
        results->SetValue(kCapAlarmOutput, m_alarmOutput);
    }
    if (m_flags[0] != 0) {
        results->SetValue(kCapFlag1, 1);
    }
    if (m_flags[1] != 0) {
        results->SetValue(kCapFlag2, 1);
    }
    if (m_flags[2] != 0) {
        results->SetValue(kCapFlag3, 1);
    }
    results->SetValue(kCapFlag4, m_flags[3] != 0 ? 1 : 0);
    results->SetValue(kCapFlag5, m_flags[4] != 0 ? 1 : 0);
    for (const std::uint32_t codec : m_codecs) {
        if (codec == 0) {
            break;
        }
        if (codec == kCodec1 || codec == kCodec2) {
            results->SetValue(kCapCodec1or2, 1);
        } else if (codec == kCodec4) {
            results->SetValue(kCapCodec4, 1);
        } else if (codec == kCodec16) {
            results->SetValue(kCapCodec16, 1);
        }
    }
    if (m_h265) {
        results->SetValue(kCapH265, 1);
    }
    IResolutionList* resolutions = results->GetResolutionList();
    for (const ResolutionEntry& entry : m_resolutions) {
        if (resolutions == nullptr) {
            break;
        }
        const std::string text = FormatString("%dx%d", static_cast<int>(entry.width),
                                              static_cast<int>(entry.height));
        resolutions->Add(text.c_str(), entry.width, entry.height,
                         entry.intervals.empty() ? 0 : entry.intervals.front());
    }
    const std::string port = FormatString("%u", static_cast<unsigned>(m_deviceInfo.port));
    const char* const fields[] = {m_deviceInfo.address.c_str(), port.c_str(),
                                  m_deviceInfo.userName.c_str(), m_deviceInfo.password.c_str()};
    std::uint32_t index = 1;
    for (const char* text : fields) {
        // A host that hands out no item for a field simply does not get it.
        if (ICapabilityField* field = results->GetConnectionField(index++)) {
            field->SetText(text);
        }
    }
    return true;
}

} // namespace norvane
