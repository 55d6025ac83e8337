#include "sim_media.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <mutex>

namespace norvane::sim {

extern const std::uint8_t kMediaH264_640x480[];
extern const std::size_t kMediaH264_640x480Size;
extern const std::uint8_t kMediaH264_1280x720[];
extern const std::size_t kMediaH264_1280x720Size;
extern const std::uint8_t kMediaH265_640x480[];
extern const std::size_t kMediaH265_640x480Size;
extern const std::uint8_t kMediaMjpeg_704x576[];
extern const std::size_t kMediaMjpeg_704x576Size;

namespace {

constexpr std::uint8_t kNalSei = 6;
constexpr std::uint8_t kNalSps = 7;
constexpr std::uint8_t kNalPps = 8;
constexpr std::uint8_t kNalAud = 9;

bool IsVcl(std::uint8_t type) {
    return type >= 1 && type <= 5;
}

// A NAL unit that starts a new access unit when the current one already holds a picture
// (H.264 section 7.4.1.2.3).
bool StartsAccessUnit(const std::vector<std::uint8_t>& nal) {
    const std::uint8_t type = nal[0] & 0x1F;
    if (type == kNalSei || type == kNalSps || type == kNalPps || type == kNalAud ||
        (type >= 14 && type <= 18)) {
        return true;
    }
    // The first slice of a picture has first_mb_in_slice = 0, whose ue(v) code is a single 1 bit.
    return IsVcl(type) && nal.size() > 1 && (nal[1] & 0x80) != 0;
}

// H.265 NAL unit types (ITU-T H.265 table 7-1).
constexpr std::uint8_t kH265FirstNonVcl = 32;
constexpr std::uint8_t kH265Vps = 32;
constexpr std::uint8_t kH265Sps = 33;
constexpr std::uint8_t kH265Pps = 34;
constexpr std::uint8_t kH265Aud = 35;
constexpr std::uint8_t kH265PrefixSei = 39;

// An H.265 NAL unit that starts a new access unit when the current one already holds a picture
// (H.265 section 7.4.2.4.4): parameter sets, a delimiter, prefix SEI, the reserved prefix types,
// or the first slice segment of a picture (first_slice_segment_in_pic_flag, the first bit after
// the two-byte header).
bool StartsH265AccessUnit(const std::vector<std::uint8_t>& nal) {
    const std::uint8_t type = (nal[0] >> 1) & 0x3F;
    if ((type >= kH265Vps && type <= kH265Aud) || type == kH265PrefixSei ||
        (type >= 41 && type <= 44) || (type >= 48 && type <= 55)) {
        return true;
    }
    return type < kH265FirstNonVcl && nal.size() > 2 && (nal[2] & 0x80) != 0;
}

// SplitNalUnits finds every start code 00 00 01 and returns the NAL units between them; a fourth
// leading zero is a trailing zero of the unit before.
std::vector<std::vector<std::uint8_t>> SplitNalUnits(std::span<const std::uint8_t> stream) {
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i + 3 <= stream.size(); ++i) {
        if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1) {
            starts.push_back(i + 3);
            i += 2;
        }
    }
    std::vector<std::vector<std::uint8_t>> nals;
    for (std::size_t k = 0; k < starts.size(); ++k) {
        std::size_t end = k + 1 < starts.size() ? starts[k + 1] - 3 : stream.size();
        while (end > starts[k] && stream[end - 1] == 0) {
            --end; // trailing_zero_8bits and the leading zero of a four-byte start code
        }
        if (end > starts[k]) {
            nals.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(starts[k]),
                              stream.begin() + static_cast<std::ptrdiff_t>(end));
        }
    }
    return nals;
}

// JPEG standard tables (ITU-T T.81 Annex K, tables K.1 and K.2) in zig-zag order, as RFC 2435
// Appendix A lists them.
constexpr std::array<std::uint8_t, 64> kLumaZigZag = {
        16, 11, 12,  14,  12,  10, 16, 14,  13,  14,  18,  17,  16, 19,  24,  40,
        26, 24, 22,  22,  24,  49, 35, 37,  29,  40,  58,  51,  61, 60,  57,  51,
        56, 55, 64,  72,  92,  78, 64, 68,  87,  69,  55,  56,  80, 109, 81,  87,
        95, 98, 103, 104, 103, 62, 77, 113, 121, 112, 100, 120, 92, 101, 103, 99};
constexpr std::array<std::uint8_t, 64> kChromaZigZag = {
        17, 18, 18, 24, 21, 24, 47, 26, 26, 47, 99, 66, 56, 66, 99, 99, 99, 99, 99, 99, 99, 99,
        99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
        99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

// The Huffman tables of ITU-T T.81 Annex K (K.3 to K.6): code counts per length 1..16, then
// the symbols. An RTP/JPEG receiver rebuilds every picture with these (RFC 2435 carries no
// Huffman table), so a picture coded with other tables decodes to garbage there.
struct HuffmanTable {
    std::array<std::uint8_t, 16> counts;
    std::vector<std::uint8_t> symbols;
};

const HuffmanTable& StandardHuffmanTable(bool ac, bool chroma) {
    static const HuffmanTable kLumaDc{{0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0},
                                      {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}};
    static const HuffmanTable kChromaDc{{0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0},
                                        {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}};
    static const HuffmanTable kLumaAc{
            {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d},
            {0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51,
             0x61, 0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1,
             0x15, 0x52, 0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18,
             0x19, 0x1a, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39,
             0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57,
             0x58, 0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75,
             0x76, 0x77, 0x78, 0x79, 0x7a, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92,
             0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7,
             0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3,
             0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8,
             0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1, 0xf2,
             0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa}};
    static const HuffmanTable kChromaAc{
            {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77},
            {0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07,
             0x61, 0x71, 0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09,
             0x23, 0x33, 0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1, 0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25,
             0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36, 0x37, 0x38,
             0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56,
             0x57, 0x58, 0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74,
             0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89,
             0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5,
             0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba,
             0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6,
             0xd7, 0xd8, 0xd9, 0xda, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf2,
             0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa}};
    if (ac) {
        return chroma ? kChromaAc : kLumaAc;
    }
    return chroma ? kChromaDc : kLumaDc;
}

// StandardHuffmanTables tells whether every table of a DHT segment is the standard one for its
// class (DC, AC) and slot (0 luminance, 1 chrominance).
bool StandardHuffmanTables(std::span<const std::uint8_t> body) {
    std::size_t at = 0;
    while (at < body.size()) {
        const std::uint8_t tableClass = body[at] >> 4;
        const std::uint8_t slot = body[at] & 0x0F;
        if (tableClass > 1 || slot > 1 || at + 17 > body.size()) {
            return false;
        }
        const HuffmanTable& standard = StandardHuffmanTable(tableClass == 1, slot == 1);
        std::size_t symbols = 0;
        for (std::size_t i = 0; i < 16; ++i) {
            symbols += body[at + 1 + i];
        }
        if (at + 17 + symbols > body.size() ||
            !std::equal(standard.counts.begin(), standard.counts.end(),
                        body.begin() + static_cast<std::ptrdiff_t>(at + 1)) ||
            !std::equal(standard.symbols.begin(), standard.symbols.end(),
                        body.begin() + static_cast<std::ptrdiff_t>(at + 17),
                        body.begin() + static_cast<std::ptrdiff_t>(at + 17 + symbols))) {
            return false;
        }
        at += 17 + symbols;
    }
    return true;
}

// StandardScanTables tells whether a scan header codes the luminance with Huffman tables 0 and
// both chrominance components with tables 1, as an RTP/JPEG receiver decodes them.
bool StandardScanTables(std::span<const std::uint8_t> body) {
    if (body.empty() || body[0] != 3 || body.size() < 1 + 3 * 2) {
        return false;
    }
    return body[2] == 0x00 && body[4] == 0x11 && body[6] == 0x11;
}

std::uint16_t ReadBE16(std::span<const std::uint8_t> data, std::size_t at) {
    return static_cast<std::uint16_t>((data[at] << 8) | data[at + 1]);
}

struct JpegParseState {
    std::array<std::array<std::uint8_t, 64>, 4> tables{};
    std::array<bool, 4> tablePresent{};
};

// ParsePicture reads one picture starting at data[pos] (its SOI); on success `pos` is past EOI.
bool ParsePicture(std::span<const std::uint8_t> data, std::size_t& pos, JpegPicture& picture,
                  std::string* error) {
    const std::size_t start = pos;
    JpegParseState state;
    pos += 2;
    std::uint8_t lumaId = 0;
    std::uint8_t chromaId = 1;
    bool haveFrame = false;
    while (true) {
        if (pos + 4 > data.size() || data[pos] != 0xFF) {
            *error = "JPEG: truncated or malformed segment";
            return false;
        }
        const std::uint8_t marker = data[pos + 1];
        if (marker == 0xFF) {
            ++pos; // fill byte
            continue;
        }
        const std::uint16_t length = ReadBE16(data, pos + 2);
        if (length < 2 || pos + 2 + length > data.size()) {
            *error = "JPEG: segment length beyond the data";
            return false;
        }
        const std::span<const std::uint8_t> body = data.subspan(pos + 4, length - 2U);
        if (marker == 0xDB) { // DQT: one or more tables
            std::size_t at = 0;
            while (at < body.size()) {
                const std::uint8_t pq = body[at] >> 4;
                const std::uint8_t tq = body[at] & 0x0F;
                if (pq != 0 || tq > 3 || at + 65 > body.size()) {
                    *error = "JPEG: only 8-bit quantization tables can be sent";
                    return false;
                }
                std::copy(body.begin() + static_cast<std::ptrdiff_t>(at + 1),
                          body.begin() + static_cast<std::ptrdiff_t>(at + 65),
                          state.tables[tq].begin());
                state.tablePresent[tq] = true;
                at += 65;
            }
        } else if (marker == 0xC0 || marker == 0xC1) { // baseline or extended sequential
            if (body.size() < 15 || body[0] != 8 || body[5] != 3) {
                *error = "JPEG: only 8-bit pictures with three components can be sent";
                return false;
            }
            const std::uint16_t height = ReadBE16(body, 1);
            const std::uint16_t width = ReadBE16(body, 3);
            const std::uint8_t ySampling = body[7];
            if (width == 0 || height == 0 || width > 2040 || height > 2040) {
                *error = "JPEG: picture size outside 8..2040 pixels";
                return false;
            }
            if (body[10] != 0x11 || body[13] != 0x11 || body[11] != body[14]) {
                *error = "JPEG: chroma components must be 1x1 sampled with one table";
                return false;
            }
            if (ySampling == 0x22) {
                picture.type = 1;
            } else if (ySampling == 0x21) {
                picture.type = 0;
            } else {
                *error = "JPEG: only 4:2:0 and 4:2:2 sampling can be sent";
                return false;
            }
            picture.width = width;
            picture.height = height;
            lumaId = body[8] & 0x03;
            chromaId = body[11] & 0x03;
            haveFrame = true;
        } else if (marker >= 0xC2 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
                   marker != 0xCC) {
            *error = "JPEG: progressive, lossless and arithmetic pictures cannot be sent";
            return false;
        } else if (marker == 0xDD) { // DRI
            if (body.size() < 2) {
                *error = "JPEG: short DRI segment";
                return false;
            }
            picture.restartInterval = ReadBE16(body, 0);
        } else if (marker == 0xC4) { // DHT: RTP/JPEG carries none, the receiver has its own
            if (!StandardHuffmanTables(body)) {
                *error = "JPEG: Huffman tables other than the standard ones (ITU-T T.81 Annex K) "
                         "cannot be sent over RTP/JPEG (an encoder's optimised tables)";
                return false;
            }
        } else if (marker == 0xDA) { // SOS: the entropy-coded data follows the segment
            if (!StandardScanTables(body)) {
                *error =
                        "JPEG: the scan must code Y with Huffman tables 0 and Cb, Cr with tables 1";
                return false;
            }
            pos += 2 + length;
            break;
        }
        pos += 2 + length;
    }
    if (!haveFrame || !state.tablePresent[lumaId] || !state.tablePresent[chromaId]) {
        *error = "JPEG: frame header or quantization tables missing";
        return false;
    }
    // The scan ends at the EOI marker; FF 00 stuffing and RST markers belong to the scan.
    const std::size_t scanStart = pos;
    while (pos + 1 < data.size()) {
        if (data[pos] == 0xFF && data[pos + 1] != 0x00 &&
            !(data[pos + 1] >= 0xD0 && data[pos + 1] <= 0xD7) && data[pos + 1] != 0xFF) {
            break;
        }
        ++pos;
    }
    if (pos + 1 >= data.size() || data[pos + 1] != 0xD9) {
        *error = "JPEG: scan not ended by EOI";
        return false;
    }
    picture.scan.assign(data.begin() + static_cast<std::ptrdiff_t>(scanStart),
                        data.begin() + static_cast<std::ptrdiff_t>(pos));
    pos += 2;
    picture.file.assign(data.begin() + static_cast<std::ptrdiff_t>(start),
                        data.begin() + static_cast<std::ptrdiff_t>(pos));
    picture.lumaTable = state.tables[lumaId];
    picture.chromaTable = state.tables[chromaId];
    if (picture.restartInterval != 0) {
        picture.type = static_cast<std::uint8_t>(picture.type + 64);
    }
    for (int q = 1; q <= 99; ++q) {
        std::array<std::uint8_t, 64> luma{};
        std::array<std::uint8_t, 64> chroma{};
        RfcQuantTables(q, luma, chroma);
        if (luma == picture.lumaTable && chroma == picture.chromaTable) {
            picture.standardQ = static_cast<std::uint8_t>(q);
            break;
        }
    }
    return true;
}

} // namespace

std::shared_ptr<const H264Clip> ParseAnnexB(std::span<const std::uint8_t> stream,
                                            std::string* error) {
    auto clip = std::make_shared<H264Clip>();
    H264AccessUnit current;
    bool currentHasPicture = false;
    for (std::vector<std::uint8_t>& nal : SplitNalUnits(stream)) {
        const std::uint8_t type = nal[0] & 0x1F;
        if (currentHasPicture && StartsAccessUnit(nal)) {
            clip->accessUnits.push_back(std::move(current));
            current = {};
            currentHasPicture = false;
        }
        if (type == kNalSps && clip->sps.empty()) {
            clip->sps = nal;
        }
        if (type == kNalPps && clip->pps.empty()) {
            clip->pps = nal;
        }
        currentHasPicture = currentHasPicture || IsVcl(type);
        current.nalUnits.push_back(std::move(nal));
    }
    if (!current.nalUnits.empty()) {
        clip->accessUnits.push_back(std::move(current));
    }
    if (clip->accessUnits.empty() || clip->sps.empty() || clip->pps.empty()) {
        *error = "H.264: the stream holds no access unit with SPS and PPS";
        return nullptr;
    }
    return clip;
}

std::shared_ptr<const H264Clip> ParseAnnexBH265(std::span<const std::uint8_t> stream,
                                                std::string* error) {
    auto clip = std::make_shared<H264Clip>();
    clip->codec = VideoCodec::H265;
    H264AccessUnit current;
    bool currentHasPicture = false;
    for (std::vector<std::uint8_t>& nal : SplitNalUnits(stream)) {
        if (nal.size() < 2) {
            continue; // not even a NAL unit header
        }
        const std::uint8_t type = (nal[0] >> 1) & 0x3F;
        if (currentHasPicture && StartsH265AccessUnit(nal)) {
            clip->accessUnits.push_back(std::move(current));
            current = {};
            currentHasPicture = false;
        }
        std::vector<std::uint8_t>* first = type == kH265Vps   ? &clip->vps
                                           : type == kH265Sps ? &clip->sps
                                           : type == kH265Pps ? &clip->pps
                                                              : nullptr;
        if (first != nullptr && first->empty()) {
            *first = nal;
        }
        currentHasPicture = currentHasPicture || type < kH265FirstNonVcl;
        current.nalUnits.push_back(std::move(nal));
    }
    if (!current.nalUnits.empty()) {
        clip->accessUnits.push_back(std::move(current));
    }
    if (clip->accessUnits.empty() || clip->vps.empty() || clip->sps.empty() || clip->pps.empty()) {
        *error = "H.265: the stream holds no access unit with VPS, SPS and PPS";
        return nullptr;
    }
    return clip;
}

std::shared_ptr<const JpegClip> ParseMjpeg(std::span<const std::uint8_t> data, std::string* error) {
    auto clip = std::make_shared<JpegClip>();
    std::size_t pos = 0;
    while (pos + 1 < data.size()) {
        if (data[pos] == 0xFF && data[pos + 1] == 0xD8) {
            JpegPicture picture;
            if (!ParsePicture(data, pos, picture, error)) {
                return nullptr;
            }
            clip->pictures.push_back(std::move(picture));
        } else {
            ++pos;
        }
    }
    if (clip->pictures.empty()) {
        *error = "JPEG: no picture found";
        return nullptr;
    }
    return clip;
}

void RfcQuantTables(int q, std::array<std::uint8_t, 64>& luma,
                    std::array<std::uint8_t, 64>& chroma) {
    // RFC 2435 Appendix A, MakeTables.
    const int factor = q < 1 ? 1 : (q > 99 ? 99 : q);
    const int scale = q < 50 ? 5000 / factor : 200 - factor * 2;
    for (std::size_t i = 0; i < 64; ++i) {
        const int lq = (kLumaZigZag[i] * scale + 50) / 100;
        const int cq = (kChromaZigZag[i] * scale + 50) / 100;
        luma[i] = static_cast<std::uint8_t>(lq < 1 ? 1 : (lq > 255 ? 255 : lq));
        chroma[i] = static_cast<std::uint8_t>(cq < 1 ? 1 : (cq > 255 ? 255 : cq));
    }
}

bool ReadFileBytes(const std::string& path, std::vector<std::uint8_t>& out, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot open " + path;
        return false;
    }
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        *error = "cannot read " + path;
        return false;
    }
    return true;
}

std::span<const std::uint8_t> EmbeddedFileBytes(const std::string& name) {
    if (name == "h264_640x480") {
        return {kMediaH264_640x480, kMediaH264_640x480Size};
    }
    if (name == "h264_1280x720") {
        return {kMediaH264_1280x720, kMediaH264_1280x720Size};
    }
    if (name == "h265_640x480") {
        return {kMediaH265_640x480, kMediaH265_640x480Size};
    }
    if (name == "mjpeg_704x576") {
        return {kMediaMjpeg_704x576, kMediaMjpeg_704x576Size};
    }
    return {};
}

namespace {

template <typename Clip, typename Parse>
std::shared_ptr<const Clip> ParseOnce(std::once_flag& once, std::shared_ptr<const Clip>& clip,
                                      const char* name, Parse parse) {
    std::call_once(once, [&] {
        std::string error;
        clip = parse(EmbeddedFileBytes(name), &error);
    });
    return clip;
}

} // namespace

std::shared_ptr<const H264Clip> EmbeddedH264_640x480() {
    static std::once_flag once;
    static std::shared_ptr<const H264Clip> clip;
    return ParseOnce(once, clip, "h264_640x480", ParseAnnexB);
}

std::shared_ptr<const H264Clip> EmbeddedH264_1280x720() {
    static std::once_flag once;
    static std::shared_ptr<const H264Clip> clip;
    return ParseOnce(once, clip, "h264_1280x720", ParseAnnexB);
}

std::shared_ptr<const H264Clip> EmbeddedH265_640x480() {
    static std::once_flag once;
    static std::shared_ptr<const H264Clip> clip;
    return ParseOnce(once, clip, "h265_640x480", ParseAnnexBH265);
}

std::shared_ptr<const JpegClip> EmbeddedMjpeg_704x576() {
    static std::once_flag once;
    static std::shared_ptr<const JpegClip> clip;
    return ParseOnce(once, clip, "mjpeg_704x576", ParseMjpeg);
}

} // namespace norvane::sim
