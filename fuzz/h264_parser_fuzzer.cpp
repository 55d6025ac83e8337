// Fuzz target: the H.264 depacketizer fed a structured packet sequence (loss, repeats, markers,
// refusing client), optionally after parameter sets from a session description.
#include <cstddef>
#include <cstdint>
#include <span>

#include "rtp/h264_rtp_media_parser.h"
#include "rtp_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace norvane;
    if (size < 1) {
        return 0;
    }
    fuzz::Driver driver;
    fuzz::Client client;
    const std::uint8_t config = data[0];
    client.size = {(config & 0x0C) == 0 ? 0U : 176U * ((config >> 2) & 3), 144U};
    CH264RTPMediaParser parser(&driver, "Vantrel");
    if ((config & 2) != 0) {
        parser.SetClient(&client);
    }
    fuzz::CPacketSequence sequence(std::span(data, size).subspan(1));
    if ((config & 1) != 0 && sequence.Rest().size() >= 2) {
        // Parameter sets: [sps length][sps][pps length][pps].
        const auto sps = sequence.TakeSet();
        const auto pps = sequence.TakeSet();
        parser.SetParameterSets(std::vector<std::uint8_t>(sps.begin(), sps.end()),
                                std::vector<std::uint8_t>(pps.begin(), pps.end()));
    }
    fuzz::FeedSequence(parser, client, sequence);
    if (driver.allocator.outstanding != 0) {
        __builtin_trap(); // every sample is released
    }
    return 0;
}
