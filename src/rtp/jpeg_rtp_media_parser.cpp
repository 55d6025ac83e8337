#include "rtp/jpeg_rtp_media_parser.h"

#include <cstring>
#include <optional>

#include "norvane/host.h"
#include "rtp/byte_reader.h"
#include "rtp/jpeg_header.h"

namespace norvane {
namespace {

constexpr std::size_t kMainHeaderSize = 8;     // RFC 2435 3.1
constexpr std::size_t kRestartHeaderSize = 4;  // RFC 2435 3.1.7
constexpr std::size_t kMinPayload = 9;         // a header and at least one byte
constexpr std::uint32_t kExtraCapacity = 1024; // room for the written headers
constexpr std::uint8_t kFirstRestartType = 64; // types 64 to 127 carry restart markers
constexpr std::uint8_t kLastRestartType = 127;
constexpr std::uint8_t kFirstTableQ = 128; // Q from 128 on: tables travel in-band
constexpr std::uint8_t kDynamicQ = 255;    // tables must be sent with every picture
constexpr std::size_t kTable8 = 64;
constexpr std::size_t kTable16 = 128;
constexpr std::array<std::uint8_t, 2> kEndOfImage = {0xFF, 0xD9};

bool IsRestartType(std::uint8_t type) {
    return type >= kFirstRestartType && type <= kLastRestartType;
}

// Headers of a picture's first fragment (RFC 2435 3.1, 3.1.7, 3.1.8).
struct FirstFragment {
    std::uint8_t type = 0;
    std::uint8_t q = 0;
    std::uint8_t widthBlocks = 0;
    std::uint8_t heightBlocks = 0;
    std::uint16_t restartInterval = 0;
    std::span<const std::uint8_t> luma; // empty: computed from Q or reused
    std::span<const std::uint8_t> chroma;
    bool reuseTables = false; // table length 0
    std::size_t scanStart = 0;
};

std::optional<FirstFragment> ParseFirstFragment(std::span<const std::uint8_t> data) {
    CByteReader reader(data);
    FirstFragment f;
    std::uint8_t typeSpecific = 0;
    std::uint32_t offset = 0;
    if (!reader.ReadU8(typeSpecific) || !reader.ReadBE24(offset) || !reader.ReadU8(f.type) ||
        !reader.ReadU8(f.q) || !reader.ReadU8(f.widthBlocks) || !reader.ReadU8(f.heightBlocks)) {
        return std::nullopt;
    }
    if (IsRestartType(f.type)) {
        std::uint16_t counts = 0;
        if (!reader.ReadBE16(f.restartInterval) || !reader.ReadBE16(counts)) {
            return std::nullopt;
        }
    }
    if (f.q >= kFirstTableQ) {
        std::uint8_t mbz = 0;
        std::uint8_t precision = 0;
        std::uint16_t length = 0;
        if (!reader.ReadU8(mbz) || !reader.ReadU8(precision) || !reader.ReadBE16(length)) {
            return std::nullopt;
        }
        if (length == 0) {
            if (f.q == kDynamicQ) {
                return std::nullopt; // RFC 2435 3.1.8: Q 255 always carries its tables
            }
            f.reuseTables = true;
        } else {
            // Bit i of the precision field makes table i 16-bit. Extra tables are skipped.
            const std::size_t lumaSize = (precision & 1) != 0 ? kTable16 : kTable8;
            const std::size_t chromaSize = (precision & 2) != 0 ? kTable16 : kTable8;
            std::span<const std::uint8_t> tables;
            if (length < lumaSize + chromaSize || !reader.ReadBytes(length, tables)) {
                return std::nullopt;
            }
            f.luma = tables.first(lumaSize);
            f.chroma = tables.subspan(lumaSize, chromaSize);
        }
    }
    f.scanStart = reader.Position();
    return f;
}

} // namespace

CJpegRTPMediaParser::CJpegRTPMediaParser(IDriver* driver, std::string name)
    : CRTPMediaParser(driver, std::move(name)) {
    m_waitSync = true;
}

PayloadResult CJpegRTPMediaParser::ParsePayload(std::span<const std::uint8_t> payload) {
    if (payload.size() < kMinPayload) {
        return PayloadResult::Ignored;
    }
    const bool first = payload[1] == 0 && payload[2] == 0 && payload[3] == 0;
    if (first) {
        if (!AcceptFirstFragment(payload)) {
            return PayloadResult::Rejected;
        }
        m_frame.insert(m_frame.end(), payload.begin(), payload.end());
        m_waitSync = false;
        return PayloadResult::Accepted;
    }
    if (m_waitSync) {
        return PayloadResult::Rejected; // a picture's tail without its first fragment
    }
    const std::size_t skip = kMainHeaderSize + (IsRestartType(payload[4]) ? kRestartHeaderSize : 0);
    if (payload.size() <= skip) {
        return PayloadResult::Ignored; // nothing after the headers: like a short payload
    }
    m_frame.insert(m_frame.end(), payload.begin() + static_cast<std::ptrdiff_t>(skip),
                   payload.end());
    return PayloadResult::Accepted;
}

bool CJpegRTPMediaParser::AcceptFirstFragment(std::span<const std::uint8_t> payload) {
    const std::optional<FirstFragment> f = ParseFirstFragment(payload);
    if (!f) {
        return false;
    }
    if (f->reuseTables) {
        return m_tables.contains(f->q);
    }
    if (!f->luma.empty() && f->q != kDynamicQ) {
        CachedTables& cached = m_tables[f->q];
        std::memcpy(cached.luma.data(), f->luma.data(), f->luma.size());
        std::memcpy(cached.chroma.data(), f->chroma.data(), f->chroma.size());
        cached.lumaSize = f->luma.size();
        cached.chromaSize = f->chroma.size();
    }
    return true;
}

void CJpegRTPMediaParser::OnFrameComplete() {
    IHostSampleAllocator* allocator = BeginDelivery();
    if (allocator == nullptr) {
        return;
    }
    const std::uint32_t capacity = static_cast<std::uint32_t>(m_frame.size()) + kExtraCapacity;
    DeliverSample(allocator, kFourCCJpeg, capacity, [&](IHostSample* sample) {
        std::uint8_t* buffer = sample->GetBuffer();
        if (buffer == nullptr) {
            return false;
        }
        const std::size_t length = BuildPicture({buffer, capacity});
        if (length == 0) {
            return false;
        }
        sample->SetLength(static_cast<std::uint32_t>(length));
        sample->SetWidth(m_width);
        sample->SetHeight(m_height);
        sample->SetImageSize(ImageSizeCode(m_width, m_height));
        sample->Commit();
        return true;
    });
}

std::size_t CJpegRTPMediaParser::BuildPicture(std::span<std::uint8_t> out) {
    const std::optional<FirstFragment> f = ParseFirstFragment(m_frame);
    if (!f) {
        return 0;
    }
    m_width = std::uint32_t{f->widthBlocks} * 8;
    m_height = std::uint32_t{f->heightBlocks} * 8;
    // Pictures whose assembled payload is not longer than the base header are dropped.
    if (m_frame.size() <= kJpegBaseHeaderSize || m_frame.size() <= f->scanStart) {
        return 0;
    }
    JpegHeaderFields fields;
    fields.type = IsRestartType(f->type) ? static_cast<std::uint8_t>(f->type - kFirstRestartType)
                                         : f->type;
    fields.width = static_cast<std::uint16_t>(m_width);
    fields.height = static_cast<std::uint16_t>(m_height);
    fields.restartInterval = f->restartInterval;
    QuantTable luma{};
    QuantTable chroma{};
    if (f->q < kFirstTableQ) {
        MakeQuantTables(f->q, luma, chroma);
        fields.luma = luma;
        fields.chroma = chroma;
    } else if (f->reuseTables) {
        const auto it = m_tables.find(f->q);
        if (it == m_tables.end()) {
            return 0;
        }
        fields.luma = std::span(it->second.luma).first(it->second.lumaSize);
        fields.chroma = std::span(it->second.chroma).first(it->second.chromaSize);
    } else {
        fields.luma = f->luma;
        fields.chroma = f->chroma;
    }
    const std::span<const std::uint8_t> scan = std::span(m_frame).subspan(f->scanStart);
    // Every delivered picture is a complete file: it ends with the end-of-image marker.
    const bool hasEnd = scan.size() >= 2 && scan[scan.size() - 2] == kEndOfImage[0] &&
                        scan[scan.size() - 1] == kEndOfImage[1];
    const std::size_t header = JpegHeaderSize(fields);
    const std::size_t total = header + scan.size() + (hasEnd ? 0 : kEndOfImage.size());
    if (total > out.size() || WriteJpegHeader(fields, out) != header) {
        return 0;
    }
    std::memcpy(out.data() + header, scan.data(), scan.size());
    if (!hasEnd) {
        std::memcpy(out.data() + header + scan.size(), kEndOfImage.data(), kEndOfImage.size());
    }
    return total;
}

} // namespace norvane
