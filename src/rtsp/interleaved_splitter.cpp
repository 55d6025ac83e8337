#include "rtsp/interleaved_splitter.h"

#include <algorithm>

namespace norvane {
namespace {

constexpr std::string_view kReplyStart = "RTSP/"; // every reply's status line (RFC 2326, 7.1)
constexpr std::string_view kRequestVersion = " RTSP/1.";
constexpr std::size_t kMaxRequestLine = 4096; // a longer first line is no request we skip whole

bool IsMethodCharacter(std::uint8_t byte) {
    return (byte >= 'A' && byte <= 'Z') || byte == '_' || byte == '-';
}

} // namespace

void CInterleavedSplitter::Append(std::span<const std::uint8_t> bytes) {
    // Items taken out are gone once new bytes arrive, so their room is reused.
    if (m_start == m_buffer.size()) {
        m_buffer.clear();
        m_start = 0;
    } else if (m_start > 0) {
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(m_start));
        m_start = 0;
    }
    m_buffer.insert(m_buffer.end(), bytes.begin(), bytes.end());
}

void CInterleavedSplitter::Consume(std::size_t count) {
    m_start += count;
}

SplitStatus CInterleavedSplitter::Next() {
    m_payload = {};
    m_reply = {};
    while (!m_failed) {
        if (m_skipFrame > 0) {
            const std::size_t count = std::min(m_skipFrame, Buffered());
            Consume(count);
            m_skippedBytes += count;
            m_skipFrame -= count;
            if (m_skipFrame > 0) {
                return SplitStatus::NeedMore;
            }
        }
        const std::size_t available = Buffered();
        if (available == 0) {
            return SplitStatus::NeedMore;
        }
        if (m_inGarbage) {
            Resync(true);
            continue;
        }
        if (m_inReply) {
            const SplitStatus status = NextReply();
            if (status == SplitStatus::Reply && m_reply.empty()) {
                continue; // a request from the server, skipped whole
            }
            return status;
        }
        const std::uint8_t* at = m_buffer.data() + m_start;
        if (at[0] == kFrameMarker) {
            if (available < kFrameHeaderBytes) {
                return SplitStatus::NeedMore;
            }
            const std::size_t length = static_cast<std::size_t>(at[2]) << 8 | at[3];
            if (length == 0 || length > m_maxFrameBytes) {
                // Nothing a camera sends: the frame is dropped as it arrives, never buffered.
                ++m_droppedFrames;
                Consume(kFrameHeaderBytes);
                m_skipFrame = length;
                continue;
            }
            if (available < kFrameHeaderBytes + length) {
                return SplitStatus::NeedMore;
            }
            m_channel = at[1];
            m_payload = std::span(at + kFrameHeaderBytes, length);
            Consume(kFrameHeaderBytes + length);
            return SplitStatus::Frame;
        }
        if (IsMethodCharacter(at[0])) {
            const std::optional<bool> request = RequestStart();
            if (!request) {
                return SplitStatus::NeedMore;
            }
            if (*request) {
                m_inReply = true;
                m_isRequest = true;
                m_replyFed = 0;
                m_framer.Reset();
                continue;
            }
        }
        const std::size_t compared = std::min(available, kReplyStart.size());
        if (std::equal(kReplyStart.begin(), kReplyStart.begin() + static_cast<long>(compared),
                       at)) {
            if (compared < kReplyStart.size()) {
                return SplitStatus::NeedMore;
            }
            m_inReply = true;
            m_replyFed = 0;
            m_framer.Reset();
            return NextReply();
        }
        Resync();
    }
    return SplitStatus::Failed;
}

SplitStatus CInterleavedSplitter::NextReply() {
    const std::size_t available = Buffered();
    const FrameStatus status = m_framer.Feed(
            std::span(m_buffer).subspan(m_start + m_replyFed, available - m_replyFed));
    m_replyFed = available;
    switch (status) {
    case FrameStatus::NeedMore:
        return SplitStatus::NeedMore;
    case FrameStatus::Complete:
        m_reply = m_framer.Reply();
        Consume(m_reply.size());
        m_inReply = false;
        m_replyFed = 0;
        if (m_isRequest) {
            m_isRequest = false;
            ++m_skippedRequests;
            m_skippedBytes += m_reply.size();
            m_reply = {};
        }
        return SplitStatus::Reply;
    case FrameStatus::TooLarge:
    case FrameStatus::Malformed:
        break;
    }
    m_failed = true;
    return SplitStatus::Failed;
}

std::optional<bool> CInterleavedSplitter::RequestStart() const {
    // A request line is a method, a space, then text without control characters up to its LF;
    // anything else is decided at its first byte that breaks that form.
    const auto begin = m_buffer.begin() + static_cast<std::ptrdiff_t>(m_start);
    const auto end = begin + static_cast<std::ptrdiff_t>(std::min(Buffered(), kMaxRequestLine));
    const auto methodEnd = std::find_if_not(begin, end, IsMethodCharacter);
    if (methodEnd == end) {
        return Buffered() < kMaxRequestLine ? std::nullopt : std::optional<bool>(false);
    }
    if (methodEnd == begin || *methodEnd != ' ') {
        return false;
    }
    const auto lineEnd = std::find_if(methodEnd, end, [](std::uint8_t byte) {
        return byte == '\n' || (byte < 0x20 && byte != '\r' && byte != '\t') || byte >= 0x7F;
    });
    if (lineEnd == end) {
        return Buffered() < kMaxRequestLine ? std::nullopt : std::optional<bool>(false);
    }
    return *lineEnd == '\n' && std::search(methodEnd, lineEnd, kRequestVersion.begin(),
                                           kRequestVersion.end()) != lineEnd;
}

void CInterleavedSplitter::Resync(bool fromFirst) {
    const auto begin = m_buffer.begin() + static_cast<std::ptrdiff_t>(m_start);
    const auto next =
            std::find_if(fromFirst ? begin : begin + 1, m_buffer.end(), [](std::uint8_t byte) {
                return byte == kFrameMarker || byte == static_cast<std::uint8_t>(kReplyStart[0]);
            });
    // Cut where the bytes ran out, the skipping goes on in the next ones: where TCP cut the
    // stream must not decide where an item is looked for.
    m_inGarbage = next == m_buffer.end();
    const auto count = static_cast<std::size_t>(next - begin);
    Consume(count);
    m_skippedBytes += count;
}

void CInterleavedSplitter::Reset() {
    m_buffer.clear();
    m_start = 0;
    m_skipFrame = 0;
    m_replyFed = 0;
    m_inReply = false;
    m_isRequest = false;
    m_inGarbage = false;
    m_framer.Reset();
    m_payload = {};
    m_reply = {};
    m_failed = false;
    m_droppedFrames = 0;
    m_skippedBytes = 0;
    m_skippedRequests = 0;
}

} // namespace norvane
