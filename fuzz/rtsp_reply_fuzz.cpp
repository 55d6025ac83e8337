// Fuzzes the RTSP reply path for one request kind (NORVANE_FUZZ_METHOD): framing the bytes as they
// would arrive in two segments, then parsing the framed reply. Framing must not depend on where the
// stream was split.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "rtsp/rtsp_reply_framer.h"
#include "rtsp/rtsp_response_parser.h"
#include "rtsp/rtsp_session_state.h"

#ifndef NORVANE_FUZZ_METHOD
#define NORVANE_FUZZ_METHOD 1
#endif

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    norvane::CRTSPReplyFramer whole;
    const norvane::FrameStatus status = whole.Feed(bytes);

    const std::size_t split = size == 0 ? 0 : data[0] % (size + 1);
    norvane::CRTSPReplyFramer pieces;
    static_cast<void>(pieces.Feed(bytes.first(split)));
    if (pieces.Feed(bytes.subspan(split)) != status || pieces.Reply() != whole.Reply()) {
        std::abort();
    }

    // The client keeps what every reply carried, accepted or not.
    const norvane::CRTSPResponseParser parser;
    norvane::RTSPSessionState state;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    state.Apply(parser.Parse(text, NORVANE_FUZZ_METHOD));
    if (status == norvane::FrameStatus::Complete) {
        state.Apply(parser.Parse(whole.Reply(), NORVANE_FUZZ_METHOD));
    }
    return 0;
}
