#include "rtp/h265_rtp_media_parser.h"

#include <array>
#include <cstring>
#include <optional>

#include "core/driver_interfaces.h"
#include "norvane/host.h"
#include "rtp/byte_reader.h"
#include "rtp/h265_sps_reader.h"

namespace norvane {
namespace {

constexpr std::array<std::uint8_t, 3> kStartCode = {0x00, 0x00, 0x01};

// NAL unit header (H.265 7.3.1.2): forbidden bit, type in bits 1-6 of the first byte, layer id,
// temporal id plus 1 in the low three bits of the second byte (never 0).
constexpr std::size_t kNalHeaderSize = 2;
constexpr std::uint8_t kForbiddenBit = 0x80;
constexpr std::uint8_t kTypeBitsCleared = 0x81; // first header byte without its type
constexpr std::uint8_t kTemporalIdMask = 0x07;
constexpr std::uint8_t kFirstSliceInPicture = 0x80; // first bit of a slice segment header

// NAL unit types (H.265 table 7-1) and RTP packet types (RFC 7798 4.4).
constexpr std::uint8_t kFirstNonVcl = 32;
constexpr std::uint8_t kIrapFirst = 16; // BLA, IDR, CRA and the reserved IRAP types
constexpr std::uint8_t kIrapLast = 23;
constexpr std::uint8_t kNalVps = 32;
constexpr std::uint8_t kNalSps = 33;
constexpr std::uint8_t kNalPps = 34;
constexpr std::uint8_t kNalDelimiter = 35;
constexpr std::uint8_t kNalEndOfSequence = 36;
constexpr std::uint8_t kNalEndOfBitstream = 37;
constexpr std::uint8_t kAggregation = 48;   // RFC 7798 4.4.2
constexpr std::uint8_t kFragmentation = 49; // RFC 7798 4.4.3

// FU header (RFC 7798 4.4.3): start, end, the fragmented unit's type.
constexpr std::size_t kFuHeaderSize = 3; // payload header and FU header
constexpr std::uint8_t kFuStartBit = 0x80;
constexpr std::uint8_t kFuEndBit = 0x40;
constexpr std::uint8_t kFuTypeMask = 0x3F;

std::uint8_t NalType(std::uint8_t header0) {
    return static_cast<std::uint8_t>((header0 >> 1) & 0x3F);
}

} // namespace

CH265RTPMediaParser::CH265RTPMediaParser(IDriver* driver, std::string name)
    : CRTPMediaParser(driver, std::move(name)) {
    m_waitSync = true;
}

bool CH265RTPMediaParser::SetParameterSets(std::span<const std::uint8_t> vps,
                                           std::span<const std::uint8_t> sps,
                                           std::span<const std::uint8_t> pps) {
    if (vps.size() <= kNalHeaderSize || pps.size() <= kNalHeaderSize ||
        NalType(vps[0]) != kNalVps || NalType(pps[0]) != kNalPps) {
        return false;
    }
    const std::optional<SpsSize> size = ReadH265SpsSize(sps);
    if (!size) {
        return false;
    }
    m_vps.assign(vps.begin(), vps.end());
    m_sps.assign(sps.begin(), sps.end());
    m_pps.assign(pps.begin(), pps.end());
    m_storedSize = *size;
    return true;
}

PayloadResult CH265RTPMediaParser::ParsePayload(std::span<const std::uint8_t> payload) {
    if (m_frame.empty()) {
        m_state = {}; // a new frame, or the parser was reset
    }
    if (payload.size() < kNalHeaderSize) {
        return PayloadResult::Rejected;
    }
    const std::uint8_t type = NalType(payload[0]);
    if (m_state.fragmentOpen && type != kFragmentation) {
        return PayloadResult::Rejected; // the end of the fragmented unit was lost
    }
    if (type < kAggregation) {
        return AppendSingleNalUnit(payload);
    }
    if (type == kAggregation) {
        return AppendAggregate(payload);
    }
    if (type == kFragmentation) {
        return AppendFragment(payload);
    }
    return PayloadResult::Rejected; // PACI and unassigned types
}

PayloadResult CH265RTPMediaParser::Opened() const {
    // A marker before any picture data cannot end an access unit (parameter sets sent ahead).
    return m_state.picture ? PayloadResult::Accepted : PayloadResult::AcceptedFrameOpen;
}

bool CH265RTPMediaParser::StartNalUnit(std::uint8_t header0, std::uint8_t header1,
                                       std::uint8_t first) {
    const std::uint8_t type = NalType(header0);
    if ((header0 & kForbiddenBit) != 0 || (header1 & kTemporalIdMask) == 0 ||
        type >= kAggregation) {
        return false;
    }
    if (m_state.open != nullptr) {
        m_state.open->end = m_frame.size();
        m_state.open = nullptr;
    }
    if (type != kNalDelimiter && !m_state.setsAtKnown) {
        m_state.setsAt = m_frame.size();
        m_state.setsAtKnown = true;
    }
    if (type < kFirstNonVcl) {
        if (!m_state.picture && type >= kIrapFirst && type <= kIrapLast &&
            (first & kFirstSliceInPicture) != 0) {
            // An IRAP picture must decode on its own: the sets it lacks go in front of it.
            m_state.inBandSets = m_state.vps.Found() && m_state.sps.Found() && m_state.pps.Found();
            m_state.syncPoint = m_state.inBandSets;
            if (!m_state.syncPoint) {
                InsertStoredSets();
            }
        }
        m_state.picture = true;
    } else if (type >= kNalVps && type <= kNalPps) {
        NalRange& range = type == kNalVps   ? m_state.vps
                          : type == kNalSps ? m_state.sps
                                            : m_state.pps;
        if (range.begin == 0) { // the first of its kind in the frame
            range.begin = m_frame.size() + kStartCode.size();
            m_state.open = &range;
        }
    }
    m_frame.insert(m_frame.end(), kStartCode.begin(), kStartCode.end());
    return true;
}

void CH265RTPMediaParser::InsertStoredSets() {
    if (m_vps.empty() || m_sps.empty() || m_pps.empty()) {
        return; // nothing to complete the picture with: it is not a sync point
    }
    std::vector<std::uint8_t> missing;
    const std::array<std::pair<const NalRange*, const std::vector<std::uint8_t>*>, 3> sets = {
            {{&m_state.vps, &m_vps}, {&m_state.sps, &m_sps}, {&m_state.pps, &m_pps}}};
    for (const auto& [range, stored] : sets) {
        if (range->begin == 0) {
            missing.insert(missing.end(), kStartCode.begin(), kStartCode.end());
            missing.insert(missing.end(), stored->begin(), stored->end());
        }
    }
    const std::size_t at = m_state.setsAtKnown ? m_state.setsAt : m_frame.size();
    m_frame.insert(m_frame.begin() + static_cast<std::ptrdiff_t>(at), missing.begin(),
                   missing.end());
    for (NalRange* range : {&m_state.vps, &m_state.sps, &m_state.pps}) {
        if (range->begin >= at && range->begin != 0) { // a set sent in band moved back
            range->begin += missing.size();
            range->end += missing.size();
        }
    }
    m_state.syncPoint = true;
}

PayloadResult CH265RTPMediaParser::AppendSingleNalUnit(std::span<const std::uint8_t> payload) {
    if (payload.size() == kNalHeaderSize) {
        // Only the end of a sequence or of the bitstream is a unit without payload.
        const std::uint8_t type = NalType(payload[0]);
        if (type != kNalEndOfSequence && type != kNalEndOfBitstream) {
            return PayloadResult::Rejected;
        }
    }
    const std::uint8_t first = payload.size() > kNalHeaderSize ? payload[kNalHeaderSize] : 0;
    if (!StartNalUnit(payload[0], payload[1], first)) {
        return PayloadResult::Rejected;
    }
    m_frame.insert(m_frame.end(), payload.begin(), payload.end());
    return Opened();
}

PayloadResult CH265RTPMediaParser::AppendAggregate(std::span<const std::uint8_t> payload) {
    // Walk the units first (RFC 7798 4.4.2): every unit holds at least a NAL unit header, lies
    // within the payload, and the units fill it exactly. A bad packet is dropped whole.
    CByteReader walk(payload.subspan(kNalHeaderSize));
    if (walk.Remaining() == 0) {
        return PayloadResult::Rejected;
    }
    while (walk.Remaining() > 0) {
        std::uint16_t size = 0;
        if (!walk.ReadBE16(size) || size < kNalHeaderSize || !walk.Skip(size)) {
            return PayloadResult::Rejected;
        }
    }
    CByteReader reader(payload.subspan(kNalHeaderSize));
    while (reader.Remaining() > 0) {
        std::uint16_t size = 0;
        std::span<const std::uint8_t> unit;
        if (!reader.ReadBE16(size) || !reader.ReadBytes(size, unit)) {
            return PayloadResult::Rejected; // cannot happen after the walk above
        }
        const std::uint8_t first = unit.size() > kNalHeaderSize ? unit[kNalHeaderSize] : 0;
        if (!StartNalUnit(unit[0], unit[1], first)) {
            return PayloadResult::Rejected;
        }
        m_frame.insert(m_frame.end(), unit.begin(), unit.end());
    }
    return Opened();
}

PayloadResult CH265RTPMediaParser::AppendFragment(std::span<const std::uint8_t> payload) {
    if (payload.size() <= kFuHeaderSize) {
        return PayloadResult::Rejected;
    }
    const std::uint8_t fuHeader = payload[2];
    const bool start = (fuHeader & kFuStartBit) != 0;
    const bool end = (fuHeader & kFuEndBit) != 0;
    const std::uint8_t type = fuHeader & kFuTypeMask;
    if (start) {
        // A unit that fits one packet is never fragmented, and a new start while a unit is open
        // means the end of that unit was lost.
        if (end || m_state.fragmentOpen) {
            return PayloadResult::Rejected;
        }
        const auto header0 =
                static_cast<std::uint8_t>((payload[0] & kTypeBitsCleared) | (type << 1));
        if (!StartNalUnit(header0, payload[1], payload[kFuHeaderSize])) {
            return PayloadResult::Rejected;
        }
        m_frame.push_back(header0);
        m_frame.push_back(payload[1]);
        m_state.fragmentOpen = true;
        m_fragmentType = type;
    } else if (!m_state.fragmentOpen || type != m_fragmentType) {
        return PayloadResult::Rejected; // the start of this unit was lost
    }
    m_frame.insert(m_frame.end(), payload.begin() + kFuHeaderSize, payload.end());
    if (end) {
        m_state.fragmentOpen = false;
    }
    return Opened();
}

void CH265RTPMediaParser::KeepInBandSets() {
    m_vps.assign(m_frame.begin() + static_cast<std::ptrdiff_t>(m_state.vps.begin),
                 m_frame.begin() + static_cast<std::ptrdiff_t>(m_state.vps.end));
    m_sps.assign(m_frame.begin() + static_cast<std::ptrdiff_t>(m_state.sps.begin),
                 m_frame.begin() + static_cast<std::ptrdiff_t>(m_state.sps.end));
    m_pps.assign(m_frame.begin() + static_cast<std::ptrdiff_t>(m_state.pps.begin),
                 m_frame.begin() + static_cast<std::ptrdiff_t>(m_state.pps.end));
}

void CH265RTPMediaParser::OnFrameComplete() {
    if (m_state.fragmentOpen) {
        Reset(); // the marker came inside a fragmented unit: the frame is damaged
        return;
    }
    if (m_state.open != nullptr) {
        m_state.open->end = m_frame.size();
        m_state.open = nullptr;
    }
    IHostSampleAllocator* allocator = BeginDelivery();
    if (allocator == nullptr) {
        return;
    }
    std::uint32_t code = kFourCCI265;
    if (m_state.syncPoint) {
        const NalRange& sps = m_state.sps;
        const std::optional<SpsSize> size =
                sps.Found() ? ReadH265SpsSize(
                                      std::span(m_frame).subspan(sps.begin, sps.end - sps.begin))
                            : std::optional<SpsSize>(m_storedSize);
        if (size) {
            m_width = size->width;
            m_height = size->height;
            code = kFourCCH265;
            m_waitSync = false;
            if (m_state.inBandSets) {
                KeepInBandSets(); // later IRAP pictures sent without sets get these
                m_storedSize = *size;
            }
        }
    }
    if (code != kFourCCH265 && m_waitSync) {
        return; // not a sync point while out of step: dropped before asking the host
    }
    const auto length = static_cast<std::uint32_t>(m_frame.size());
    DeliverSample(allocator, code, length, [&](IHostSample* sample) {
        std::uint8_t* buffer = sample->GetBuffer();
        if (buffer == nullptr) {
            return false;
        }
        std::memcpy(buffer, m_frame.data(), length);
        sample->SetWidth(m_width);
        sample->SetHeight(m_height);
        sample->SetImageSize(ImageSizeCode(m_width, m_height));
        sample->SetLength(length);
        sample->SetFourCC(code);
        sample->Commit();
        return true;
    });
}

} // namespace norvane
