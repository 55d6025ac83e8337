// CRTSPReplyFramer finds the end of one RTSP reply in a byte stream: the header block up to its
// empty line, then exactly Content-Length body bytes (RFC 2326, section 4.3), within size bounds.
// It sees bytes only, never a socket, so it is fed in pieces of any size.
//
// Threads: one owner at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace norvane {

enum class FrameStatus {
    NeedMore,  // the reply is not complete yet
    Complete,  // Reply() holds the whole reply
    TooLarge,  // the header block or the body exceeds its bound
    Malformed, // the Content-Length header cannot be read or contradicts itself
};

class CRTSPReplyFramer {
public:
    static constexpr std::size_t kMaxHeaderBytes = 64 * 1024;
    static constexpr std::size_t kMaxBodyBytes = 1024 * 1024;

    explicit CRTSPReplyFramer(std::size_t maxHeaderBytes = kMaxHeaderBytes,
                              std::size_t maxBodyBytes = kMaxBodyBytes)
        : m_maxHeaderBytes(maxHeaderBytes)
        , m_maxBodyBytes(maxBodyBytes) {}

    // Feed appends received bytes and returns the state. Once the state is not NeedMore, later
    // bytes are ignored until Reset.
    FrameStatus Feed(std::span<const std::uint8_t> bytes);

    // Reply returns the complete reply (headers and body, without any bytes that followed it).
    [[nodiscard]] std::string_view Reply() const;

    [[nodiscard]] FrameStatus Status() const { return m_status; }

    void Reset();

private:
    FrameStatus FindHeaderEnd();

    std::size_t m_maxHeaderBytes;
    std::size_t m_maxBodyBytes;
    std::string m_buffer;
    std::size_t m_scanFrom = 0;                  // where the search for the empty line resumes
    std::size_t m_headerEnd = std::string::npos; // bytes of the header block with its end
    std::size_t m_bodyLength = 0;
    FrameStatus m_status = FrameStatus::NeedMore;
};

} // namespace norvane
