// Fuzz target: the H.265 SPS reader over arbitrary NAL units; whatever it reads is a size it can
// report (non-zero, at most 65535 each way).
#include <cstddef>
#include <cstdint>
#include <span>

#include "rtp/h265_sps_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto read = norvane::ReadH265SpsSize(std::span<const std::uint8_t>(data, size));
    if (read &&
        (read->width == 0 || read->height == 0 || read->width > 65535 || read->height > 65535)) {
        __builtin_trap();
    }
    return 0;
}
