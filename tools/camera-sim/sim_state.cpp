#include "sim_state.h"

#include <algorithm>
#include <cstdlib>

#include "sim_text.h"

namespace norvane::sim {

namespace {

// Bounds that keep a long-running simulator (or a misbehaving client) from growing without limit.
constexpr std::size_t kMaxLoggedRequests = 100000;
constexpr std::size_t kLogTrim = 10000; // oldest entries dropped when the log is full
constexpr std::size_t kMaxRtcpPackets = 10000;
constexpr double kMaxStreamFps = 240.0;
constexpr std::uint32_t kLargeClipFromWidth = 800; // wider main streams use the 1280x720 clip

// LoadFile reads and parses one media file, naming the file in the error.
template <typename Clip, typename Parse>
std::shared_ptr<const Clip> LoadFile(const std::string& path, Parse parse, std::string* error) {
    std::vector<std::uint8_t> bytes;
    if (!ReadFileBytes(path, bytes, error)) {
        return nullptr;
    }
    auto clip = parse(bytes, error);
    if (!clip) {
        *error = path + ": " + *error;
    }
    return clip;
}

} // namespace

CSimState::CSimState(CameraSimConfig config) : m_config(std::move(config)) {
    m_faults = m_config.faults;
    const std::string fps = FormatDecimal(m_config.fps);
    const std::string size0 =
            std::to_string(m_config.width) + "x" + std::to_string(m_config.height);
    m_settings.codec = {{"codec0", m_config.codec0},
                        {"resolution0", size0},
                        {"bitctrl0", "cbr"},
                        {"bitavr0", "2048"},
                        {"fps0", fps},
                        {"codec1", "mjpeg"},
                        {"resolution1", "704x576"},
                        {"bitctrl1", "cbr"},
                        {"bitavr1", "2048"},
                        {"fps1", fps},
                        {"ff_mode", std::to_string(m_config.ffMode)},
                        {"mirror_mode", "none"},
                        {"bandon", "no"},
                        {"bandwidth", "5000"},
                        {"codec0_options", m_config.h265 ? "h264,h265" : "h264"}};
    m_settings.alarmPort = {{"in_enable", "yes"},        {"in_type", "no"},
                            {"in_text", "ALARM 1"},      {"out_oper", "useroff"},
                            {"out_mode", "transparent"}, {"out_dwell", "5"}};
}

bool CSimState::LoadMedia(std::string* error) {
    if (!m_config.h264File.empty()) {
        m_h264File = LoadFile<H264Clip>(m_config.h264File, ParseAnnexB, error);
        if (!m_h264File) {
            return false;
        }
    } else if (!EmbeddedH264_640x480() || !EmbeddedH264_1280x720()) {
        *error = "the embedded H.264 clips cannot be read";
        return false;
    }
    if (!m_config.h265File.empty()) {
        m_h265File = LoadFile<H264Clip>(m_config.h265File, ParseAnnexBH265, error);
        if (!m_h265File) {
            return false;
        }
    } else if (!EmbeddedH265_640x480()) {
        *error = "the embedded H.265 clip cannot be read";
        return false;
    }
    if (!m_config.mjpegFile.empty()) {
        m_jpegClip = LoadFile<JpegClip>(m_config.mjpegFile, ParseMjpeg, error);
        if (!m_jpegClip) {
            // Nothing is re-encoded here: the user makes a clip that RTP/JPEG can carry.
            *error += ". Make a suitable clip with: ffmpeg -i INPUT -an -c:v mjpeg -huffman "
                      "default -pix_fmt yuvj420p -q:v 5 -f mjpeg clip.mjpeg";
        }
        return m_jpegClip != nullptr;
    }
    m_jpegClip = EmbeddedMjpeg_704x576();
    if (!m_jpegClip) {
        *error = "the embedded JPEG clip cannot be read";
        return false;
    }
    return true;
}

std::shared_ptr<const H264Clip> CSimState::MainClip() const {
    if (CodecValue("codec0") == "h265") {
        return m_h265File ? m_h265File : EmbeddedH265_640x480();
    }
    if (m_h264File) {
        return m_h264File;
    }
    const std::string size = CodecValue("resolution0");
    const auto width = ParseUnsigned(size.substr(0, size.find('x')));
    return width && *width > kLargeClipFromWidth ? EmbeddedH264_1280x720() : EmbeddedH264_640x480();
}

SimFaults CSimState::Faults() const {
    std::lock_guard guard(m_lock);
    return m_faults;
}

void CSimState::SetFaults(const SimFaults& faults) {
    std::lock_guard guard(m_lock);
    m_faults = faults;
}

std::string CSimState::CodecValue(const std::string& key) const {
    std::lock_guard guard(m_lock);
    for (const auto& [name, value] : m_settings.codec) {
        if (name == key) {
            return value;
        }
    }
    return {};
}

double CSimState::StreamFps(bool mainStream) const {
    const std::string text = CodecValue(mainStream ? "fps0" : "fps1");
    char* end = nullptr;
    const double fps = std::strtod(text.c_str(), &end);
    return fps > 0.0 && fps <= kMaxStreamFps ? fps : m_config.fps;
}

void CSimState::LogRequest(LoggedRequest request) {
    {
        std::lock_guard guard(m_lock);
        if (m_log.size() >= kMaxLoggedRequests) {
            m_log.erase(m_log.begin(), m_log.begin() + static_cast<std::ptrdiff_t>(kLogTrim));
        }
        m_log.push_back(std::move(request));
    }
    m_logChanged.notify_all();
}

std::vector<LoggedRequest> CSimState::Requests() const {
    std::lock_guard guard(m_lock);
    return m_log;
}

void CSimState::ClearRequests() {
    std::lock_guard guard(m_lock);
    m_log.clear();
}

bool CSimState::WaitForRequest(const std::function<bool(const LoggedRequest&)>& match,
                               std::chrono::milliseconds timeout) const {
    std::unique_lock guard(m_lock);
    return m_logChanged.wait_for(guard, timeout,
                                 [&] { return std::any_of(m_log.begin(), m_log.end(), match); });
}

void CSimState::RecordRtcp(ReceivedRtcp packet) {
    std::lock_guard guard(m_lock);
    if (m_rtcpPackets.size() < kMaxRtcpPackets) {
        m_rtcpPackets.push_back(std::move(packet));
    }
}

std::vector<ReceivedRtcp> CSimState::RtcpPackets() const {
    std::lock_guard guard(m_lock);
    return m_rtcpPackets;
}

} // namespace norvane::sim
