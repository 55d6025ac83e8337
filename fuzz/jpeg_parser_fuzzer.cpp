// Fuzz target: the JPEG depacketizer fed a structured packet sequence (first fragments with and
// without tables, restart types, loss, repeats, markers, refusing client).
#include <cstddef>
#include <cstdint>
#include <span>

#include "rtp/jpeg_rtp_media_parser.h"
#include "rtp_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace norvane;
    fuzz::Driver driver;
    fuzz::Client client;
    CJpegRTPMediaParser parser(&driver, "Vantrel");
    parser.SetClient(&client);
    fuzz::CPacketSequence sequence(std::span(data, size));
    fuzz::FeedSequence(parser, client, sequence);
    if (driver.allocator.outstanding != 0) {
        __builtin_trap(); // every sample is released
    }
    return 0;
}
