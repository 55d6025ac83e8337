// The session description of a DESCRIBE reply (RFC 4566), read for what the RTSP client needs: the
// control URL of the video, audio and metadata media, and the codec parameters of the fmtp lines.
// fmtp parameters are read by one generic name=value reader; the H.264 ones (RFC 6184, section
// 8.1) and the H.265 ones (RFC 7798, section 7.1) are taken from its result.
//
// Threads: stateless; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace norvane {

// SdpLineKind: what ClassifySdpLine found at the start of a description line.
enum SdpLineKind : int {
    kSdpOther = 0,
    kSdpEmpty = 1,
    kSdpVideo = 2,
    kSdpAudio = 3,
    kSdpMetadata = 4,
    kSdpOtherMedium = 5,
    kSdpControl = 6,
    kSdpFmtp = 7,
};

// ClassifySdpLine returns the SdpLineKind of a description line from its start (case-insensitive).
SdpLineKind ClassifySdpLine(std::string_view line);

// The parameters of one "a=fmtp:<format> <parameters>" line, in the order written.
struct FmtpParameters {
    std::string format;
    std::vector<std::pair<std::string, std::string>> parameters;

    // Value returns the value of parameter `name` (exact name), or nothing.
    [[nodiscard]] std::optional<std::string_view> Value(std::string_view name) const;
};

// ParseFmtp reads an fmtp line: the format, then parameters separated by ";" or white space, each
// "name=value" (the value runs to the next separator) or a bare name with an empty value.
FmtpParameters ParseFmtp(std::string_view line);

// The H.265 parameters of a description: the first VPS, SPS and PPS of sprop-vps, sprop-sps and
// sprop-pps (each a comma-separated base64 list), and whether the packets carry decoding order
// numbers (sprop-max-don-diff or sprop-depack-buf-nalus above 0; a value that is not a number
// counts as above 0, because their absence cannot be assumed).
struct H265Description {
    std::vector<std::uint8_t> vps;
    std::vector<std::uint8_t> sps;
    std::vector<std::uint8_t> pps;
    bool decodingOrderNumbers = false;

    [[nodiscard]] bool HasParameterSets() const {
        return !vps.empty() && !sps.empty() && !pps.empty();
    }
};

// What one description said. A control is set when its medium had a control line; a control line
// that cannot be read sets it empty. Parameter sets are appended in the order of the fmtp lines.
struct SessionDescription {
    std::optional<std::string> videoControl;
    std::optional<std::string> audioControl;
    std::optional<std::string> metadataControl;
    std::vector<std::uint8_t> sps;
    std::vector<std::uint8_t> pps;
    std::optional<std::uint32_t> packetizationMode; // H.264 packetization-mode
    std::optional<H265Description> h265;            // set by an fmtp line with H.265 parameters
};

// ParseSessionDescription reads `body` into `description`. False when a control line inside the
// video, audio or metadata medium cannot be read; reading stops there, and what was read stays.
[[nodiscard]] bool ParseSessionDescription(std::string_view body, SessionDescription& description);

} // namespace norvane
