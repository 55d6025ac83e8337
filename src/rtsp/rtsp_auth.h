// Credentials for RTSP requests: the Basic and Digest Authorization lines (RFC 2617, Digest in the
// form without quality of protection), with our own MD5 (RFC 1321) and base64 (RFC 4648).
//
// Threads: stateless; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace norvane {

class CRTSPResponseParser;

// Md5Hex returns the MD5 digest of the bytes of `text` as 32 lower-case hexadecimal digits.
std::string Md5Hex(std::string_view text);

// Base64EncodedLength returns the capacity the encoder demands for `length` input bytes (four
// characters per started group of three, plus two bytes per started run of 76 characters), or -1
// when that cannot be computed in 31 bits. 72 bytes need 100, 73 need 104.
int Base64EncodedLength(std::size_t length);

// Base64Encode writes the base64 text of `data` (RFC 4648 alphabet, "=" padding, no line breaks)
// into `buffer` and sets `count` to the number of characters written. It fails, writing nothing,
// when Base64EncodedLength(data.size()) exceeds the buffer's size.
bool Base64Encode(std::span<const std::uint8_t> data, std::span<char> buffer, std::size_t& count);

// BasicCredentials returns the base64 text of "user:password" for the Basic line, or nothing when
// the joined text is longer than 72 bytes (the encoded text must fit a 100-byte buffer).
std::optional<std::string> BasicCredentials(std::string_view userName, std::string_view password);

// DigestAuthorization returns the complete "Authorization: Digest ..." line (ended by CR LF) for
// `method` and `uri`, computed from the last challenge held by `parser`; empty unless that
// challenge is Digest and realm, nonce, user name, password and uri are all present. The opaque
// value of the challenge is sent back when there was one (RFC 2617, section 3.2.2).
std::string DigestAuthorization(const CRTSPResponseParser& parser, std::string_view userName,
                                std::string_view password, std::string_view uri,
                                std::uint32_t method);

} // namespace norvane
