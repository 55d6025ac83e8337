#include "rtp/h264_rtp_media_parser.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

#include "core/driver_interfaces.h"
#include "norvane/host.h"
#include "rtp/byte_reader.h"
#include "rtp/sps_reader.h"

namespace norvane {
namespace {

constexpr std::array<std::uint8_t, 3> kStartCode = {0x00, 0x00, 0x01};
// Access unit delimiter, primary_pic_type 1, appended to every delivered access unit.
constexpr std::array<std::uint8_t, 5> kEndOfUnit = {0x00, 0x00, 0x01, 0x09, 0x30};
// Baseline PPS: ids 0, CAVLC, one slice group, one reference index, deblocking control present.
constexpr std::array<std::uint8_t, 4> kMadeUpPps = {0x68, 0xCE, 0x3C, 0x80};

// NAL unit types (H.264 table 7-1) and RTP packet types (RFC 6184 table 1).
constexpr std::uint8_t kNalTypeMask = 0x1F;
constexpr std::uint8_t kNalIdr = 5;
constexpr std::uint8_t kNalSps = 7;
constexpr std::uint8_t kNalPps = 8;
constexpr std::uint8_t kNalDelimiter = 9;
constexpr std::uint8_t kNalEndOfStream = 11;
constexpr std::uint8_t kSingleLast = 23;
constexpr std::uint8_t kStapA = 24;
constexpr std::uint8_t kFuA = 28;
constexpr std::uint8_t kForbiddenBit = 0x80;
// First bytes of aggregated units that are left out: delimiter and SEI with nal_ref_idc 0.
constexpr std::uint8_t kDelimiterByte = 0x09;
constexpr std::uint8_t kSeiByte = 0x06;
// FU header of the first fragment of an IDR slice: S bit set, type 5 (RFC 6184 5.8).
constexpr std::uint8_t kFuStartOfIdr = 0x85;
constexpr std::uint8_t kFuStartBit = 0x80;

constexpr std::uint8_t kNalNonIdr = 1;
constexpr std::uint8_t kNalRefIdcMask = 0x60;
// Packets lost at once beyond which the parser waits for a sync point after all: the check of
// frame_num cannot see a whole cycle of reference pictures or an IDR picture lost within a gap
// larger than the frame_num of the last intact reference picture (see ContinueAfterLoss).
constexpr std::uint32_t kMaxMissingToContinue = 16;

constexpr std::size_t kMinSingleNalUnit = 3;
constexpr std::size_t kMinAggregate = 4;
constexpr std::size_t kMinFragment = 3;

} // namespace

CH264RTPMediaParser::CH264RTPMediaParser(IDriver* driver, std::string name)
    : CRTPMediaParser(driver, std::move(name)) {
    m_waitSync = true;
}

PayloadResult CH264RTPMediaParser::ParsePayload(std::span<const std::uint8_t> payload) {
    if (payload.empty()) {
        return PayloadResult::Rejected;
    }
    const std::uint8_t type = payload[0] & kNalTypeMask;
    if (type >= 1 && type <= kSingleLast) {
        return AppendSingleNalUnit(payload);
    }
    if (type == kStapA) {
        return AppendAggregate(payload);
    }
    if (type == kFuA) {
        return AppendFragment(payload);
    }
    return PayloadResult::Rejected;
}

void CH264RTPMediaParser::AppendNalUnit(std::span<const std::uint8_t> nalUnit) {
    m_frame.insert(m_frame.end(), kStartCode.begin(), kStartCode.end());
    m_frame.insert(m_frame.end(), nalUnit.begin(), nalUnit.end());
}

PayloadResult CH264RTPMediaParser::AppendSingleNalUnit(std::span<const std::uint8_t> payload) {
    if (payload.size() < kMinSingleNalUnit) {
        // Access unit delimiters, end of sequence and end of stream are one or two bytes long;
        // they carry nothing the frame needs and are dropped without disturbing the frame; their
        // marker bit still ends it.
        const std::uint8_t type = payload[0] & kNalTypeMask;
        const bool shortUnit = (payload[0] & kForbiddenBit) == 0 && type >= kNalDelimiter &&
                               type <= kNalEndOfStream;
        return shortUnit ? PayloadResult::Accepted : PayloadResult::Rejected;
    }
    AppendNalUnit(payload);
    NoteUnit(payload[0], payload.subspan(1));
    return PayloadResult::Accepted;
}

PayloadResult CH264RTPMediaParser::AppendAggregate(std::span<const std::uint8_t> payload) {
    if (payload.size() < kMinAggregate) {
        return PayloadResult::Rejected;
    }
    // Walk the units first (RFC 6184 5.7.1): every size must be non-zero and lie within the
    // payload, and the sizes must fill it exactly. A bad packet is dropped whole.
    CByteReader walk(payload.subspan(1));
    while (walk.Remaining() > 0) {
        std::uint16_t size = 0;
        if (!walk.ReadBE16(size) || size == 0 || !walk.Skip(size)) {
            return PayloadResult::Rejected;
        }
    }
    CByteReader reader(payload.subspan(1));
    std::uint8_t lastType = 0;
    while (reader.Remaining() > 0) {
        std::uint16_t size = 0;
        std::span<const std::uint8_t> unit;
        if (!reader.ReadBE16(size) || !reader.ReadBytes(size, unit)) {
            return PayloadResult::Rejected; // cannot happen after the walk above
        }
        if (unit[0] == kDelimiterByte || unit[0] == kSeiByte) {
            continue;
        }
        AppendNalUnit(unit);
        NoteUnit(unit[0], unit.subspan(1));
        lastType = unit[0] & kNalTypeMask;
    }
    // Parameter sets or an IDR slice sent ahead of the picture do not end the frame, even when
    // the camera sets the marker on them.
    if (lastType == kNalIdr || lastType == kNalSps || lastType == kNalPps) {
        return PayloadResult::AcceptedFrameOpen;
    }
    return PayloadResult::Accepted;
}

PayloadResult CH264RTPMediaParser::AppendFragment(std::span<const std::uint8_t> payload) {
    if (payload.size() < kMinFragment) {
        return PayloadResult::Rejected;
    }
    const std::uint8_t indicator = payload[0];
    const std::uint8_t header = payload[1];
    if (header == kFuStartOfIdr && m_frame.empty()) {
        // A fragmented IDR picture must be decodable on its own: put the parameter sets first.
        if ((m_sps.empty() || m_pps.empty()) && !MakeParameterSets()) {
            m_waitSync = true;
            return PayloadResult::Rejected;
        }
        AppendNalUnit(m_sps);
        AppendNalUnit(m_pps);
    }
    if ((header & kFuStartBit) != 0) {
        const std::uint8_t nalHeader =
                static_cast<std::uint8_t>((indicator & 0xE0) | (header & kNalTypeMask));
        m_frame.insert(m_frame.end(), kStartCode.begin(), kStartCode.end());
        m_frame.push_back(nalHeader);
        NoteUnit(nalHeader, payload.subspan(2));
    }
    m_frame.insert(m_frame.end(), payload.begin() + 2, payload.end());
    return PayloadResult::Accepted;
}

void CH264RTPMediaParser::OnFrameComplete() {
    IHostSampleAllocator* allocator = BeginDelivery();
    if (allocator == nullptr) {
        return;
    }
    std::uint32_t code = kFourCCI264;
    if (const std::optional<SpsSize> size = FindSpsSize(m_frame)) {
        m_width = size->width;
        m_height = size->height;
        code = kFourCCH264;
        m_waitSync = false;
        m_checkReferences = false;
    } else if (m_waitSync) {
        return; // not a sync point while out of step: dropped before asking the host
    } else if (m_checkReferences) {
        if (!FollowsReferences()) {
            Reset(); // a reference picture may be lost: wait for the next sync point
            return;
        }
        m_checkReferences = false;
    }
    if (m_picture.reference) {
        m_prevRefFrameNum =
                m_picture.readable ? std::optional(m_picture.slice.frameNum) : std::nullopt;
    }
    m_missingSinceCheck = 0;
    const auto length = static_cast<std::uint32_t>(m_frame.size());
    const std::uint32_t total = length + static_cast<std::uint32_t>(kEndOfUnit.size());
    DeliverSample(allocator, code, total, [&](IHostSample* sample) {
        std::uint8_t* buffer = sample->GetBuffer();
        if (buffer == nullptr) {
            return false;
        }
        std::memcpy(buffer, m_frame.data(), length);
        std::memcpy(buffer + length, kEndOfUnit.data(), kEndOfUnit.size());
        sample->SetWidth(m_width);
        sample->SetHeight(m_height);
        sample->SetImageSize(ImageSizeCode(m_width, m_height));
        sample->SetLength(total);
        sample->SetFourCC(code);
        sample->Commit();
        return true;
    });
}

CRTPMediaParser::LossAction CH264RTPMediaParser::OnLoss(std::uint32_t missing, bool frameWasOpen) {
    m_missingSinceCheck += std::min(missing, kMaxMissingToContinue);
    // A picture after the loss is intact when its frame_num follows the last intact reference
    // picture's: pictures nothing refers to do not count. An IDR picture lost inside the gap
    // restarts the count at 0, so that the next picture's frame_num is at most the number of
    // missing packets; a last reference frame_num of at least that many rules out the mix-up.
    const bool canTell = !m_waitSync && m_numbering && !m_numbering->gapsAllowed &&
                         m_numbering->frameMbsOnly && m_prevRefFrameNum &&
                         m_missingSinceCheck < kMaxMissingToContinue &&
                         *m_prevRefFrameNum >= m_missingSinceCheck;
    m_checkReferences = canTell;
    if (!canTell) {
        m_missingSinceCheck = 0;
        return LossAction::Reset;
    }
    // A loss after a slice of the picture in progress damaged that picture. A loss before its
    // first slice took only the units that lead a picture (delimiter, SEI, parameter sets, which
    // the parser holds already) or whole pictures, which the check of frame_num sees.
    return frameWasOpen && m_picture.seen ? LossAction::DropRestOfFrame : LossAction::Continue;
}

void CH264RTPMediaParser::ClearFrame() {
    CRTPMediaParser::ClearFrame();
    m_picture = {};
}

void CH264RTPMediaParser::NoteUnit(std::uint8_t header, std::span<const std::uint8_t> body) {
    const std::uint8_t type = header & kNalTypeMask;
    if (type == kNalSps) {
        if (const auto numbering = ReadSpsFrameNumbering(body)) {
            m_numbering = numbering;
        }
        return;
    }
    if ((type != kNalNonIdr && type != kNalIdr) || m_picture.seen) {
        return;
    }
    m_picture.seen = true;
    m_picture.reference = (header & kNalRefIdcMask) != 0;
    m_picture.idr = type == kNalIdr;
    if (m_numbering) {
        if (const auto slice = ReadSliceStart(body, *m_numbering)) {
            m_picture.readable = true;
            m_picture.slice = *slice;
        }
    }
}

bool CH264RTPMediaParser::FollowsReferences() const {
    if (!m_picture.readable || !m_picture.slice.firstSlice || !m_numbering || !m_prevRefFrameNum) {
        return false; // the picture's start, or what it follows, is unknown
    }
    if (m_picture.idr) {
        return true;
    }
    const std::uint32_t modulus = std::uint32_t{1} << m_numbering->log2MaxFrameNum;
    return m_picture.slice.frameNum == (*m_prevRefFrameNum + 1) % modulus;
}

void CH264RTPMediaParser::SetParameterSets(std::span<const std::uint8_t> sps,
                                           std::span<const std::uint8_t> pps) {
    if (sps.empty() || pps.empty()) {
        return;
    }
    m_numbering = ReadSpsFrameNumbering(sps.subspan(1));
    m_sps.assign(sps.begin(), sps.end());
    m_pps.assign(pps.begin(), pps.end());
    std::vector<std::uint8_t> unit;
    unit.reserve(2 * kStartCode.size() + sps.size() + pps.size());
    unit.insert(unit.end(), kStartCode.begin(), kStartCode.end());
    unit.insert(unit.end(), sps.begin(), sps.end());
    unit.insert(unit.end(), kStartCode.begin(), kStartCode.end());
    unit.insert(unit.end(), pps.begin(), pps.end());
    if (const std::optional<SpsSize> size = FindSpsSize(unit)) {
        m_width = size->width;
        m_height = size->height;
    } else {
        MakeParameterSets();
    }
}

bool CH264RTPMediaParser::MakeParameterSets() {
    m_sps.clear();
    m_pps.clear();
    if (m_client != nullptr) {
        const auto [width, height] = m_client->GetConfiguredSize();
        m_width = width;
        m_height = height;
        m_sps = MakeSps(width, height);
        if (!m_sps.empty()) {
            m_pps.assign(kMadeUpPps.begin(), kMadeUpPps.end());
        }
    }
    return !m_sps.empty() && !m_pps.empty();
}

} // namespace norvane
