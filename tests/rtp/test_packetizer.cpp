#include "rtp/test_packetizer.h"

#include <algorithm>

namespace norvane::test {
namespace {

std::uint8_t NalType(const Bytes8& nal) {
    return nal.empty() ? 0 : nal[0] & 0x1F;
}

void Put16(Bytes8& out, std::size_t value) {
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

} // namespace

std::vector<Bytes8> SplitNalUnits(std::span<const std::uint8_t> s) {
    std::vector<std::size_t> starts; // first byte after each 00 00 01
    for (std::size_t i = 0; i + 2 < s.size(); ++i) {
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) {
            starts.push_back(i + 3);
            i += 2;
        }
    }
    std::vector<Bytes8> units;
    for (std::size_t k = 0; k < starts.size(); ++k) {
        std::size_t end = k + 1 < starts.size() ? starts[k + 1] - 3 : s.size();
        while (end > starts[k] && s[end - 1] == 0) {
            --end; // the leading zero of a four-byte start code, or trailing zero bytes
        }
        units.emplace_back(s.begin() + static_cast<std::ptrdiff_t>(starts[k]),
                           s.begin() + static_cast<std::ptrdiff_t>(end));
    }
    return units;
}

std::vector<std::vector<Bytes8>> SplitAccessUnits(const std::vector<Bytes8>& nalUnits) {
    std::vector<std::vector<Bytes8>> units;
    for (const Bytes8& nal : nalUnits) {
        if (NalType(nal) == 9 || units.empty()) {
            units.emplace_back();
        }
        units.back().push_back(nal);
    }
    return units;
}

std::vector<RtpPayload> PacketizeAccessUnit(const std::vector<Bytes8>& accessUnit,
                                            ParameterSetMode mode, std::size_t mtu) {
    std::vector<RtpPayload> packets;
    Bytes8 aggregate = {0x18}; // STAP-A indicator, F=0, NRI=0
    std::uint8_t nri = 0;
    for (const Bytes8& nal : accessUnit) {
        const std::uint8_t type = NalType(nal);
        if (type == 7 || type == 8 || type == 6) {
            if (mode == ParameterSetMode::InBand) {
                Put16(aggregate, nal.size());
                aggregate.insert(aggregate.end(), nal.begin(), nal.end());
                nri = std::max<std::uint8_t>(nri, nal[0] & 0x60);
            }
            continue;
        }
        if (aggregate.size() > 1) {
            aggregate[0] = static_cast<std::uint8_t>(0x18 | nri);
            packets.push_back({aggregate, false});
            aggregate.resize(1);
        }
        if (nal.size() <= mtu) {
            packets.push_back({nal, false});
            continue;
        }
        // FU-A (RFC 6184 5.8): the NAL header is replaced by indicator and fragment header.
        const std::uint8_t indicator = static_cast<std::uint8_t>((nal[0] & 0xE0) | 28);
        const std::size_t chunk = mtu - 2;
        for (std::size_t pos = 1; pos < nal.size(); pos += chunk) {
            const std::size_t end = std::min(nal.size(), pos + chunk);
            Bytes8 fu = {indicator, static_cast<std::uint8_t>((pos == 1 ? 0x80 : 0) |
                                                              (end == nal.size() ? 0x40 : 0) |
                                                              (nal[0] & 0x1F))};
            fu.insert(fu.end(), nal.begin() + static_cast<std::ptrdiff_t>(pos),
                      nal.begin() + static_cast<std::ptrdiff_t>(end));
            packets.push_back({std::move(fu), false});
        }
    }
    if (!packets.empty()) {
        packets.back().marker = true;
    }
    return packets;
}

std::vector<Bytes8> SplitJpegPictures(std::span<const std::uint8_t> file) {
    std::vector<Bytes8> pictures;
    std::size_t start = 0;
    for (std::size_t i = 0; i + 1 < file.size(); ++i) {
        if (file[i] == 0xFF && file[i + 1] == 0xD9) { // stuffed FF 00 and RST markers never match
            pictures.emplace_back(file.begin() + static_cast<std::ptrdiff_t>(start),
                                  file.begin() + static_cast<std::ptrdiff_t>(i + 2));
            start = i + 2;
            ++i;
        } else if (file[i] == 0xFF && file[i + 1] != 0 && file[i + 1] != 0xFF &&
                   !(file[i + 1] >= 0xD0 && file[i + 1] <= 0xD8) && i + 3 < file.size()) {
            // A marker segment: skip its body so that table bytes cannot look like FF D9.
            i += 1 + ((static_cast<std::size_t>(file[i + 2]) << 8) | file[i + 3]);
        }
    }
    return pictures;
}

std::optional<JpegPicture> ParseJpegPicture(std::span<const std::uint8_t> p) {
    JpegPicture picture;
    std::array<std::array<std::uint8_t, 64>, 4> tables{};
    std::uint8_t lumaTable = 0;
    std::uint8_t chromaTable = 0;
    std::size_t i = 2; // after SOI
    while (i + 4 <= p.size()) {
        if (p[i] != 0xFF) {
            return std::nullopt;
        }
        const std::uint8_t marker = p[i + 1];
        const std::size_t length = (static_cast<std::size_t>(p[i + 2]) << 8) | p[i + 3];
        const std::size_t body = i + 4;
        if (body + length - 2 > p.size()) {
            return std::nullopt;
        }
        if (marker == 0xDB) {
            for (std::size_t t = body; t + 65 <= body + length - 2; t += 65) {
                if ((p[t] >> 4) != 0) {
                    return std::nullopt; // 16-bit tables are not used here
                }
                std::copy_n(p.begin() + static_cast<std::ptrdiff_t>(t + 1), 64,
                            tables[p[t] & 3].begin());
            }
        } else if (marker == 0xC0) {
            picture.height = static_cast<std::uint16_t>((p[body + 1] << 8) | p[body + 2]);
            picture.width = static_cast<std::uint16_t>((p[body + 3] << 8) | p[body + 4]);
            const std::uint8_t sampling = p[body + 7];
            picture.type = sampling == 0x21 ? 0 : 1;
            lumaTable = p[body + 8] & 3;
            chromaTable = p[body + 11] & 3;
        } else if (marker == 0xDD) {
            picture.restartInterval = static_cast<std::uint16_t>((p[body] << 8) | p[body + 1]);
        } else if (marker == 0xDA) {
            const std::size_t scan = body + length - 2;
            if (p.size() < scan + 2) {
                return std::nullopt;
            }
            picture.scan.assign(p.begin() + static_cast<std::ptrdiff_t>(scan), p.end() - 2);
            picture.luma = tables[lumaTable];
            picture.chroma = tables[chromaTable];
            return picture;
        }
        i = body + length - 2;
    }
    return std::nullopt;
}

std::vector<RtpPayload> PacketizeJpeg(const JpegPicture& picture, std::uint8_t q, bool sendTables,
                                      std::size_t mtu) {
    const bool restart = picture.restartInterval != 0;
    const std::uint8_t type = static_cast<std::uint8_t>(picture.type + (restart ? 64 : 0));
    std::vector<RtpPayload> packets;
    std::size_t offset = 0;
    while (offset < picture.scan.size() || packets.empty()) {
        Bytes8 p = {0,
                    static_cast<std::uint8_t>(offset >> 16),
                    static_cast<std::uint8_t>(offset >> 8),
                    static_cast<std::uint8_t>(offset),
                    type,
                    q,
                    static_cast<std::uint8_t>(picture.width / 8),
                    static_cast<std::uint8_t>(picture.height / 8)};
        if (restart) {
            Put16(p, picture.restartInterval);
            Put16(p, 0xFFFF); // F=1, L=1, count 0x3FFF: not aligned to restart intervals
        }
        if (offset == 0 && q >= 128) {
            p.push_back(0);
            p.push_back(0);
            Put16(p, sendTables ? 128 : 0);
            if (sendTables) {
                p.insert(p.end(), picture.luma.begin(), picture.luma.end());
                p.insert(p.end(), picture.chroma.begin(), picture.chroma.end());
            }
        }
        const std::size_t room = mtu - p.size();
        const std::size_t end = std::min(picture.scan.size(), offset + room);
        p.insert(p.end(), picture.scan.begin() + static_cast<std::ptrdiff_t>(offset),
                 picture.scan.begin() + static_cast<std::ptrdiff_t>(end));
        offset = end;
        packets.push_back({std::move(p), false});
    }
    packets.back().marker = true;
    return packets;
}

} // namespace norvane::test
