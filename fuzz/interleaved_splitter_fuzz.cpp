// Fuzzes the splitter of an RTSP connection that carries interleaved frames: the bytes are split
// whole and again in pieces of a size taken from the first byte; both must give the same frames
// and replies, and the bytes held back must never exceed one reply or one frame.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "rtsp/interleaved_splitter.h"
#include "rtsp/rtsp_reply_framer.h"

namespace {

std::vector<std::string> Split(std::span<const std::uint8_t> bytes, std::size_t piece) {
    constexpr std::size_t kHeldBound = norvane::CRTSPReplyFramer::kMaxHeaderBytes +
                                       norvane::CRTSPReplyFramer::kMaxBodyBytes +
                                       norvane::CInterleavedSplitter::kMaxFrameBytes;
    norvane::CInterleavedSplitter splitter;
    std::vector<std::string> items;
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        splitter.Append(bytes.subspan(at, std::min(piece, bytes.size() - at)));
        for (;;) {
            const norvane::SplitStatus status = splitter.Next();
            if (status == norvane::SplitStatus::NeedMore) {
                break;
            }
            if (status == norvane::SplitStatus::Failed) {
                items.emplace_back("failed");
                return items;
            }
            if (status == norvane::SplitStatus::Frame) {
                const auto payload = splitter.Payload();
                if (payload.empty()) {
                    std::abort(); // an empty frame is never handed out
                }
                items.push_back(std::to_string(splitter.Channel()) + ":" +
                                std::string(payload.begin(), payload.end()));
            } else {
                items.emplace_back(splitter.ReplyText());
            }
        }
        if (splitter.Buffered() > kHeldBound + piece) {
            std::abort();
        }
    }
    return items;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::span<const std::uint8_t> bytes(data + 1, size - 1);
    const std::size_t piece = data[0] % 64 + 1;
    if (Split(bytes, bytes.size() + 1) != Split(bytes, piece)) {
        std::abort();
    }
    return 0;
}
