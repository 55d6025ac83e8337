// Fuzz target: the H.265 depacketizer fed a structured packet sequence (loss, repeats, markers,
// refusing client), optionally after VPS, SPS and PPS from a session description.
#include <cstddef>
#include <cstdint>
#include <span>

#include "rtp/h265_rtp_media_parser.h"
#include "rtp_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace norvane;
    if (size < 1) {
        return 0;
    }
    fuzz::Driver driver;
    fuzz::Client client;
    const std::uint8_t config = data[0];
    CH265RTPMediaParser parser(&driver, "Vantrel");
    if ((config & 2) != 0) {
        parser.SetClient(&client);
    }
    fuzz::CPacketSequence sequence(std::span(data, size).subspan(1));
    if ((config & 1) != 0) {
        const auto vps = sequence.TakeSet();
        const auto sps = sequence.TakeSet();
        const auto pps = sequence.TakeSet();
        (void)parser.SetParameterSets(vps, sps, pps);
    }
    fuzz::FeedSequence(parser, client, sequence);
    if (driver.allocator.outstanding != 0) {
        __builtin_trap(); // every sample is released
    }
    return 0;
}
