// Fuzz target: the SPS reader over arbitrary access units and SPS payloads, and the made-up SPS
// writer over arbitrary sizes (whatever it writes must read back as that size).
#include <cstddef>
#include <cstdint>
#include <span>

#include "rtp/sps_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    (void)norvane::FindSpsSize(input);
    (void)norvane::ReadSpsSize(input);
    if (size >= 4) {
        const std::uint32_t width = (std::uint32_t{data[0]} << 8 | data[1]) & 0x3FFF;
        const std::uint32_t height = (std::uint32_t{data[2]} << 8 | data[3]) & 0x3FFF;
        const auto sps = norvane::MakeSps(width, height);
        if (!sps.empty()) {
            const auto read = norvane::ReadSpsSize(std::span(sps).subspan(1));
            // Odd sizes keep one extra column or row.
            if (!read || read->width < width || read->width > width + 1 || read->height < height ||
                read->height > height + 1) {
                __builtin_trap();
            }
        }
    }
    return 0;
}
