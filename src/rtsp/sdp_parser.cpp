#include "rtsp/sdp_parser.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "text/base64.h"
#include "text/text_utils.h"

namespace norvane {
namespace {

constexpr std::size_t kParameterSetCapacity = 256; // bytes kept per decoded parameter set

// ReadControl reads "a=control:<url>" (RFC 2326, appendix C.1.1): the first word after the colon.
bool ReadControl(std::string_view line, std::optional<std::string>& target) {
    constexpr std::string_view kPrefix = "a=control:";
    if (line.substr(0, kPrefix.size()) == kPrefix) {
        const std::string_view word = FirstWord(TrimBlanks(line.substr(kPrefix.size())));
        if (!word.empty()) {
            target = std::string(word);
            return true;
        }
    }
    target = std::string();
    return false;
}

// AppendDecoded decodes one base64 parameter set onto `target`; a set larger than the capacity
// is dropped whole.
void AppendDecoded(std::string_view text, std::vector<std::uint8_t>& target) {
    std::array<std::uint8_t, kParameterSetCapacity> buffer{};
    std::size_t count = 0;
    if (Base64Decode(text, buffer, count)) {
        target.insert(target.end(), buffer.begin(),
                      buffer.begin() + static_cast<std::ptrdiff_t>(count));
    }
}

// ReadH264Parameters takes the H.264 parameters of one fmtp line (RFC 6184, section 8.1).
void ReadH264Parameters(const FmtpParameters& fmtp, SessionDescription& description) {
    if (const auto mode = fmtp.Value("packetization-mode")) {
        if (const auto value = ParseDecimal32(*mode)) {
            description.packetizationMode = value;
        }
    }
    // sprop-parameter-sets: the sequence parameter set, then the picture parameter set.
    const auto sets = fmtp.Value("sprop-parameter-sets");
    if (!sets || sets->empty()) {
        return;
    }
    const std::vector<std::string> list = SplitList(*sets);
    if (list.size() < 2 || list[0].empty() || list[1].empty()) {
        return;
    }
    AppendDecoded(list[0], description.sps);
    AppendDecoded(list[1], description.pps);
}

// ReadH265Parameters takes the H.265 parameters of one fmtp line (RFC 7798, section 7.1); a line
// without any leaves the description alone.
void ReadH265Parameters(const FmtpParameters& fmtp, SessionDescription& description) {
    static constexpr std::array<std::string_view, 5> kNames = {
            "sprop-vps", "sprop-sps", "sprop-pps", "sprop-max-don-diff", "sprop-depack-buf-nalus"};
    const bool any = std::any_of(kNames.begin(), kNames.end(), [&](std::string_view name) {
        return fmtp.Value(name).has_value();
    });
    if (!any) {
        return;
    }
    H265Description h265;
    const auto first = [&](std::string_view name, std::vector<std::uint8_t>& target) {
        if (const auto list = fmtp.Value(name)) {
            const std::vector<std::string> sets = SplitList(*list);
            if (!sets.empty() && !sets[0].empty()) {
                AppendDecoded(sets[0], target);
            }
        }
    };
    first(kNames[0], h265.vps);
    first(kNames[1], h265.sps);
    first(kNames[2], h265.pps);
    for (const std::string_view name : {kNames[3], kNames[4]}) {
        if (const auto value = fmtp.Value(name)) {
            const auto number = ParseDecimal32(*value);
            h265.decodingOrderNumbers = h265.decodingOrderNumbers || !number || *number > 0;
        }
    }
    description.h265 = std::move(h265);
}

} // namespace

SdpLineKind ClassifySdpLine(std::string_view line) {
    if (line.empty()) {
        return kSdpEmpty;
    }
    static constexpr std::array<std::pair<std::string_view, SdpLineKind>, 6> kKinds = {{
            {"a=control", kSdpControl},
            {"a=fmtp", kSdpFmtp},
            {"m=video", kSdpVideo},
            {"m=audio", kSdpAudio},
            {"m=metadata", kSdpMetadata},
            {"m=", kSdpOtherMedium},
    }};
    for (const auto& [prefix, kind] : kKinds) {
        if (StartsWithNoCase(line, prefix)) {
            return kind;
        }
    }
    return kSdpOther;
}

std::optional<std::string_view> FmtpParameters::Value(std::string_view name) const {
    for (const auto& [parameter, value] : parameters) {
        if (parameter == name) {
            return value;
        }
    }
    return std::nullopt;
}

FmtpParameters ParseFmtp(std::string_view line) {
    // a=fmtp:<format> <format specific parameters> (RFC 4566, section 6); codecs write them as
    // name=value pairs separated by ";", often with blanks after it.
    constexpr std::string_view kSeparators = "; \t\r\n";
    FmtpParameters fmtp;
    const std::size_t colon = line.find(':');
    std::string_view rest =
            colon == std::string_view::npos ? std::string_view{} : line.substr(colon + 1);
    const std::size_t formatEnd = rest.find_first_of(kSeparators);
    fmtp.format = std::string(rest.substr(0, formatEnd));
    rest = formatEnd == std::string_view::npos ? std::string_view{} : rest.substr(formatEnd);
    while (!rest.empty()) {
        const std::size_t start = rest.find_first_not_of(kSeparators);
        if (start == std::string_view::npos) {
            break;
        }
        rest = rest.substr(start);
        const std::string_view item = rest.substr(0, rest.find_first_of(kSeparators));
        rest = rest.substr(item.size());
        const std::size_t equals = item.find('=');
        if (equals == std::string_view::npos) {
            fmtp.parameters.emplace_back(item, std::string());
        } else {
            fmtp.parameters.emplace_back(item.substr(0, equals), item.substr(equals + 1));
        }
    }
    return fmtp;
}

bool ParseSessionDescription(std::string_view body, SessionDescription& description) {
    enum class Medium { None, Video, Audio, Metadata };
    Medium medium = Medium::None;
    bool ok = true;
    std::size_t position = 0;
    do {
        const std::string_view line = NextLine(body, position);
        switch (ClassifySdpLine(line)) {
        case kSdpControl:
            // A session-level control ("*" or the aggregate URL) concerns no single medium.
            if (medium == Medium::Video) {
                ok = ReadControl(line, description.videoControl);
            } else if (medium == Medium::Audio) {
                ok = ReadControl(line, description.audioControl);
            } else if (medium == Medium::Metadata) {
                ok = ReadControl(line, description.metadataControl);
            }
            break;
        case kSdpFmtp: {
            const FmtpParameters fmtp = ParseFmtp(line);
            ReadH264Parameters(fmtp, description);
            ReadH265Parameters(fmtp, description);
            break;
        }
        case kSdpVideo:
            medium = Medium::Video;
            break;
        case kSdpAudio:
            medium = Medium::Audio;
            break;
        case kSdpMetadata:
            medium = Medium::Metadata;
            break;
        case kSdpOtherMedium:
            medium = Medium::None;
            break;
        default:
            break;
        }
    } while (position < body.size() && ok);
    return ok;
}

} // namespace norvane
