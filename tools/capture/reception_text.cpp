#include "reception_text.h"

#include <cstdio>

namespace vantrel::capture {
namespace {

constexpr double kTimestampUnitsPerMs = 90.0; // video RTP clock, 90 kHz

std::string ReceptionText(const NorvaneChannelReception& r, bool brief) {
    const double lostShare = r.packetsExpected == 0 || r.packetsLost <= 0
                                     ? 0.0
                                     : 100.0 * static_cast<double>(r.packetsLost) /
                                               static_cast<double>(r.packetsExpected);
    char text[512];
    if (brief) {
        std::snprintf(text, sizeof text, "  lost %lld (%.1f %%)  damaged %llu",
                      static_cast<long long>(r.packetsLost), lostShare,
                      static_cast<unsigned long long>(r.framesDamaged));
    } else {
        std::snprintf(text, sizeof text,
                      "reception: %llu of %llu packets, %lld lost (%.2f %%), %llu reordered and "
                      "put back, %llu duplicates, %llu late; jitter %.1f ms; %llu frames "
                      "delivered, %llu damaged (not delivered)",
                      static_cast<unsigned long long>(r.packetsReceived),
                      static_cast<unsigned long long>(r.packetsExpected),
                      static_cast<long long>(r.packetsLost), lostShare,
                      static_cast<unsigned long long>(r.reordered),
                      static_cast<unsigned long long>(r.duplicates),
                      static_cast<unsigned long long>(r.late), r.jitter / kTimestampUnitsPerMs,
                      static_cast<unsigned long long>(r.framesDelivered),
                      static_cast<unsigned long long>(r.framesDamaged));
    }
    return text;
}

} // namespace

bool ReceptionReader::Read(NorvaneChannelReception& reception) const {
    reception = {};
    reception.size = sizeof reception;
    return query != nullptr && driver != nullptr && query(driver, 0, &reception) == 1 &&
           reception.size >= sizeof reception;
}

std::string ReceptionReader::Text(bool brief) const {
    NorvaneChannelReception reception{};
    return Read(reception) ? ReceptionText(reception, brief) : std::string();
}

} // namespace vantrel::capture
