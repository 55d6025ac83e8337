// The H.265 sequence parameter set reader: the picture size (conformance window applied) of an
// SPS. A pure function over bytes; it runs on the receive thread for every SPS a camera sends and
// on the channel thread for the parameter sets of a session description, so it is bounded in CPU
// as well as memory whatever the input.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "rtp/sps_reader.h"

namespace norvane {

// ReadH265SpsSize reads the picture size from an H.265 SPS NAL unit, its two-byte NAL unit header
// included. Nothing when the unit is not an SPS, a read runs past its end, a field is beyond its
// range (more than 7 sub-layers, a chroma format above 3, an Exp-Golomb code of more than 31
// leading zeros), or the size is zero or beyond 65535.
[[nodiscard]] std::optional<SpsSize> ReadH265SpsSize(std::span<const std::uint8_t> nalUnit);

} // namespace norvane
