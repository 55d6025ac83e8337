// Text and hash helpers of the simulated camera: MD5 and SHA-256 (from OpenSSL), base64 (RFC 4648),
// header and query parsing. The simulator keeps its own copies on purpose: it checks the driver's
// protocol code, so it must not share a bug with it.
//
// Threads: pure functions, callable from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace norvane::sim {

enum class DigestHash { Md5, Sha256 };

// DigestHex returns the digest of `data` as lower-case hexadecimal digits.
std::string DigestHex(DigestHash hash, std::string_view data);
// Md5Hex returns the MD5 digest of `data` as 32 lower-case hexadecimal digits (RFC 1321).
std::string Md5Hex(std::string_view data);

std::string Base64Encode(std::span<const std::uint8_t> data);
std::string Base64Encode(std::string_view text);
// Base64Decode decodes standard base64 with optional padding; nullopt on any other character.
std::optional<std::vector<std::uint8_t>> Base64Decode(std::string_view text);

std::string AsciiLower(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
std::string_view TrimBlanks(std::string_view text);

// One message head (HTTP or RTSP request): the first line and the header fields in order.
struct MessageHead {
    std::string startLine;
    std::vector<std::pair<std::string, std::string>> headers;

    // Header returns the first field named `name` (case-insensitive), trimmed.
    [[nodiscard]] std::optional<std::string> Header(std::string_view name) const;
};

// ParseMessageHead splits a head (text up to and including its empty line; lines may end in CR LF
// or a lone LF). Nullopt when a header line has no colon or the first line is empty.
std::optional<MessageHead> ParseMessageHead(std::string_view head);

// FindHeadEnd returns the length of the head (through the empty line) within `buffer`, or 0 when
// the empty line has not arrived yet.
std::size_t FindHeadEnd(std::string_view buffer);

// PercentDecode decodes %XX escapes (and '+' as a blank when `plusIsBlank`); nullopt on a bad
// escape.
std::optional<std::string> PercentDecode(std::string_view text, bool plusIsBlank);

// ParseQuery splits "a=1&b=2" into decoded pairs in order; nullopt on a bad escape.
std::optional<std::vector<std::pair<std::string, std::string>>> ParseQuery(std::string_view query);

// ParseAuthParams reads the comma-separated name=value list of an authorization or challenge
// header (after the scheme), with quoted strings and backslash escapes (RFC 7235 section 2.1).
std::optional<std::vector<std::pair<std::string, std::string>>>
ParseAuthParams(std::string_view text);

// ParseUnsigned reads a whole decimal number that fits 32 bits; nullopt otherwise.
std::optional<std::uint32_t> ParseUnsigned(std::string_view text);

// FormatDecimal formats `value` with at most one decimal ("25", "12.5").
std::string FormatDecimal(double value);

// HexString formats `value` as `digits` upper-case hexadecimal digits.
std::string HexString(std::uint64_t value, int digits);

} // namespace norvane::sim
