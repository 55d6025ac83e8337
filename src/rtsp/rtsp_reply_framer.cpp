#include "rtsp/rtsp_reply_framer.h"

#include <algorithm>
#include <optional>

#include "rtsp/rtsp_response_parser.h"
#include "text/text_utils.h"

namespace norvane {

FrameStatus CRTSPReplyFramer::Feed(std::span<const std::uint8_t> bytes) {
    if (m_status != FrameStatus::NeedMore) {
        return m_status;
    }
    m_buffer.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (m_headerEnd == std::string::npos) {
        m_status = FindHeaderEnd();
        if (m_status != FrameStatus::NeedMore || m_headerEnd == std::string::npos) {
            return m_status;
        }
    }
    if (m_buffer.size() - m_headerEnd >= m_bodyLength) {
        m_status = FrameStatus::Complete;
    }
    return m_status;
}

FrameStatus CRTSPReplyFramer::FindHeaderEnd() {
    // The header block ends with an empty line: LF followed by LF or by CR LF (lone LF line ends
    // are accepted like CR LF).
    std::size_t end = std::string::npos;
    std::size_t i = m_scanFrom;
    for (; i < m_buffer.size() && end == std::string::npos; ++i) {
        if (m_buffer[i] != '\n') {
            continue;
        }
        const std::size_t after = m_buffer.size() - i - 1; // bytes after this LF
        if (after == 0 || (after == 1 && m_buffer[i + 1] == '\r')) {
            break; // too few bytes to decide; look at this LF again when more arrive
        }
        if (m_buffer[i + 1] == '\n') {
            end = i + 2;
        } else if (m_buffer[i + 1] == '\r' && m_buffer[i + 2] == '\n') {
            end = i + 3;
        }
    }
    if (end == std::string::npos) {
        m_scanFrom = i;
        return m_buffer.size() > m_maxHeaderBytes ? FrameStatus::TooLarge : FrameStatus::NeedMore;
    }
    if (end > m_maxHeaderBytes) {
        return FrameStatus::TooLarge;
    }
    // The reply's own Content-Length decides the body; none means no body.
    const std::string_view headers(m_buffer.data(), end);
    std::optional<std::uint32_t> length;
    std::size_t position = 0;
    NextLine(headers, position); // status line
    while (position != std::string_view::npos) {
        const std::string_view line = NextLine(headers, position);
        if (ClassifyHeader(line) != kHeaderContentLength) {
            continue;
        }
        const auto value = ParseDecimal32(line.substr(line.find(':') + 1));
        if (!value || (length && *length != *value)) {
            return FrameStatus::Malformed;
        }
        length = value;
    }
    const std::size_t bodyLength = length.value_or(0);
    if (bodyLength > m_maxBodyBytes) {
        return FrameStatus::TooLarge;
    }
    m_headerEnd = end;
    m_bodyLength = bodyLength;
    return FrameStatus::NeedMore;
}

std::string_view CRTSPReplyFramer::Reply() const {
    if (m_status != FrameStatus::Complete) {
        return {};
    }
    return std::string_view(m_buffer).substr(0, m_headerEnd + m_bodyLength);
}

void CRTSPReplyFramer::Reset() {
    m_buffer.clear();
    m_scanFrom = 0;
    m_headerEnd = std::string::npos;
    m_bodyLength = 0;
    m_status = FrameStatus::NeedMore;
}

} // namespace norvane
