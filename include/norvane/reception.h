// NorvaneChannelReception: how the RTP packets of one open channel have arrived since the channel
// was opened, as GetChannelReception (exports.h) reports it. The struct only ever grows at its
// end: a host sets `size` to the size it was compiled with, and the library fills no more than
// that and says in `size` how much it filled.
#pragma once

#include <stdint.h>

struct NorvaneChannelReception {
    uint32_t size;            // in: sizeof as the host knows it; out: bytes filled
    uint32_t jitter;          // interarrival jitter in 1/90000 s (RFC 3550 A.8)
    uint64_t packetsReceived; // repeats and late packets included
    uint64_t packetsExpected; // by the sequence numbers
    int64_t packetsLost;      // expected less received (repeats can make it negative)
    uint64_t reordered;       // arrived after a later packet, put back in order in time
    uint64_t duplicates;      // exact repeats, dropped
    uint64_t late;            // arrived after their place was given up, dropped
    uint64_t framesDelivered; // frames handed to the host and accepted
    uint64_t framesDamaged;   // frames not delivered because packets were lost
    uint64_t payloadBytes;    // RTP payload bytes received
};
