// Credentials for RTSP requests: the Basic and Digest Authorization lines (RFC 2617; Digest with
// quality of protection "auth" and the SHA-256 algorithms of RFC 7616).
//
// Threads: stateless; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace norvane {

struct RTSPChallenge;

// BasicCredentials returns the base64 text of "user:password" for the Basic line, or nothing when
// the joined text is longer than 72 bytes (the encoded text must fit a 100-byte buffer).
std::optional<std::string> BasicCredentials(std::string_view userName, std::string_view password);

// DigestAlgorithm: the hash of a Digest challenge and whether it is the session variant, whose
// HA1 also covers the nonce and the client nonce (RFC 7616, section 3.4.2).
enum class DigestAlgorithm { Md5, Md5Sess, Sha256, Sha256Sess };

// DigestAlgorithmOf reads an algorithm name without case; an empty name is MD5 (RFC 7616, section
// 3.3). Nothing for an algorithm this client cannot compute.
std::optional<DigestAlgorithm> DigestAlgorithmOf(std::string_view name);

// DigestAnswerable tells whether DigestAuthorization can answer `challenge`: Digest with realm and
// nonce, an algorithm this client computes, no qop list or one that offers "auth" (a session
// algorithm needs it), and no demand for a hashed user name.
bool DigestAnswerable(const RTSPChallenge& challenge);

// DigestNonceUse: the client's part of an answer with quality of protection: how often the nonce
// has been used, this use included (RFC 7616, section 3.4: nc), and the client nonce.
struct DigestNonceUse {
    std::uint32_t count = 0;
    std::string cnonce;
};

// DigestAuthorization returns the complete "Authorization: Digest ..." line (ended by CR LF) for
// `methodName` and `uri`, computed from `challenge`; empty unless the challenge is answerable
// (DigestAnswerable) and user name, password, method and uri are present. When the challenge
// offers qop "auth", the line carries qop, nc and cnonce from `use`, which then needs a count and
// a client nonce. The opaque value is sent back when there was one, the algorithm when the
// challenge named it. Without qop and algorithm the line is the RFC 2069 form.
std::string DigestAuthorization(const RTSPChallenge& challenge, std::string_view userName,
                                std::string_view password, std::string_view uri,
                                std::string_view methodName, const DigestNonceUse& use = {});

// DigestAuthorization for a request kind (RTSPMethod); empty for an unknown one.
std::string DigestAuthorization(const RTSPChallenge& challenge, std::string_view userName,
                                std::string_view password, std::string_view uri,
                                std::uint32_t method, const DigestNonceUse& use = {});

} // namespace norvane
