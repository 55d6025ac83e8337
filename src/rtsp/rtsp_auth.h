// Credentials for RTSP requests: the Basic and Digest Authorization lines (RFC 2617, Digest in the
// form without quality of protection), with our own MD5 (RFC 1321).
//
// Threads: stateless; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace norvane {

struct RTSPChallenge;

// Md5Hex returns the MD5 digest of the bytes of `text` as 32 lower-case hexadecimal digits.
std::string Md5Hex(std::string_view text);

// BasicCredentials returns the base64 text of "user:password" for the Basic line, or nothing when
// the joined text is longer than 72 bytes (the encoded text must fit a 100-byte buffer).
std::optional<std::string> BasicCredentials(std::string_view userName, std::string_view password);

// DigestAuthorization returns the complete "Authorization: Digest ..." line (ended by CR LF) for
// `method` and `uri`, computed from `challenge`; empty unless that challenge is Digest and realm,
// nonce, user name, password and uri are all present. The opaque value of the challenge is sent
// back when there was one (RFC 2617, section 3.2.2).
std::string DigestAuthorization(const RTSPChallenge& challenge, std::string_view userName,
                                std::string_view password, std::string_view uri,
                                std::uint32_t method);

} // namespace norvane
