// Fuzzes the session description parse: controls and H.264 parameter sets.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "rtsp/sdp_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    norvane::SessionDescription description;
    static_cast<void>(norvane::ParseSessionDescription(text, description));
    // Each parameter set decodes into at most 256 bytes per line.
    if (description.sps.size() > 256 * (size / 8 + 1) ||
        description.pps.size() > 256 * (size / 8 + 1)) {
        std::abort();
    }
    return 0;
}
