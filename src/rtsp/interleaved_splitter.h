// CInterleavedSplitter separates the two kinds of data that share an RTSP connection once media
// flows inside it (RFC 2326, section 10.12): binary frames ('$', channel, 16-bit length, packet)
// and RTSP replies. TCP may cut either anywhere, so bytes are appended as they arrive and complete
// items are taken out one at a time. It sees bytes only, never a socket.
//
// A request from the server (RFC 2326, 10: ANNOUNCE, GET_PARAMETER, SET_PARAMETER ...) is framed
// like a reply and skipped whole, so that its "RTSP/1.0" is never taken for the start of a reply.
//
// Bad input never grows memory beyond one reply (the reply framer's bounds) or one frame: a frame
// of length 0 or longer than the largest packet is skipped, bytes that start neither a frame, a
// reply nor a request are skipped up to the next '$' or "RTSP/", and a message the framer refuses
// fails the splitter, as the connection has lost its framing.
//
// Threads: one owner at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "rtsp/rtsp_reply_framer.h"

namespace norvane {

enum class SplitStatus {
    NeedMore, // no complete item is buffered
    Frame,    // Channel() and Payload() hold one interleaved frame
    Reply,    // ReplyText() holds one complete RTSP reply
    Failed,   // a reply exceeded its bounds or was malformed; only Reset helps
};

class CInterleavedSplitter {
public:
    // The largest packet a frame may carry: the largest UDP payload over IPv4, so that nothing
    // a camera could send as a datagram is refused inside the connection.
    static constexpr std::size_t kMaxFrameBytes = 65507;
    static constexpr std::uint8_t kFrameMarker = '$';
    static constexpr std::size_t kFrameHeaderBytes = 4; // '$', channel, length (network order)

    explicit CInterleavedSplitter(std::size_t maxFrameBytes = kMaxFrameBytes)
        : m_maxFrameBytes(maxFrameBytes) {}

    // Append adds received bytes. Items taken out before stay valid only until this call.
    void Append(std::span<const std::uint8_t> bytes);

    // Next takes the next complete item out of the buffered bytes. The frame's payload and the
    // reply's text stay valid until the next call of Next, Append or Reset.
    SplitStatus Next();

    [[nodiscard]] std::uint8_t Channel() const { return m_channel; }

    [[nodiscard]] std::span<const std::uint8_t> Payload() const { return m_payload; }

    [[nodiscard]] std::string_view ReplyText() const { return m_reply; }

    // Buffered is the number of bytes received and not yet taken out (a cut item's head).
    [[nodiscard]] std::size_t Buffered() const { return m_buffer.size() - m_start; }

    // Counts of what was skipped since the last Reset, for diagnostics and tests.
    [[nodiscard]] std::uint64_t DroppedFrames() const { return m_droppedFrames; }

    [[nodiscard]] std::uint64_t SkippedRequests() const { return m_skippedRequests; }

    [[nodiscard]] std::uint64_t SkippedBytes() const { return m_skippedBytes; }

    void Reset();

private:
    SplitStatus NextReply();
    // RequestStart tells whether the buffered bytes begin with a request line ("METHOD URI
    // RTSP/1.x"); nullopt while the line is still incomplete.
    [[nodiscard]] std::optional<bool> RequestStart() const;
    // Resync skips bytes that start nothing known, up to the next '$' or 'R' after the first
    // (`fromFirst`: from the first on), also in bytes that arrive later.
    void Resync(bool fromFirst = false);
    void Consume(std::size_t count);

    std::size_t m_maxFrameBytes;
    std::vector<std::uint8_t> m_buffer;
    std::size_t m_start = 0;     // first byte not yet taken out
    std::size_t m_skipFrame = 0; // bytes of a refused frame still to skip as they arrive
    std::size_t m_replyFed = 0;  // bytes from m_start already fed to the framer
    bool m_inReply = false;      // a message has started at m_start ...
    bool m_isRequest = false;    // ... and it is a request from the server, to be skipped
    bool m_inGarbage = false;    // skipping bytes that start nothing, across Append calls
    CRTSPReplyFramer m_framer;
    std::uint8_t m_channel = 0;
    std::span<const std::uint8_t> m_payload;
    std::string_view m_reply;
    bool m_failed = false;
    std::uint64_t m_droppedFrames = 0;
    std::uint64_t m_skippedBytes = 0;
    std::uint64_t m_skippedRequests = 0;
};

} // namespace norvane
