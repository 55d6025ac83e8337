#include "rtsp/rtsp_auth.h"

#include <array>
#include <span>
#include <utility>

#include "rtsp/rtsp_types.h"
#include "text/base64.h"
#include "text/md5.h"
#include "text/sha256.h"
#include "text/text_utils.h"

namespace norvane {
namespace {

constexpr std::size_t kBasicPlainLimit = 72;  // longest "user:password" that fits the buffer
constexpr std::size_t kBasicBufferSize = 100; // encoded text plus terminator

// Quoted writes `text` as the inside of a quoted-string: double quotes and backslashes become
// quoted pairs (RFC 2616, section 2.2), so a value read from a challenge goes back unchanged.
std::string Quoted(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            result.push_back('\\');
        }
        result.push_back(c);
    }
    return result;
}

bool IsSessionAlgorithm(DigestAlgorithm algorithm) {
    return algorithm == DigestAlgorithm::Md5Sess || algorithm == DigestAlgorithm::Sha256Sess;
}

bool IsSha256(DigestAlgorithm algorithm) {
    return algorithm == DigestAlgorithm::Sha256 || algorithm == DigestAlgorithm::Sha256Sess;
}

// OffersQopAuth tells whether a qop list ("auth,auth-int") offers "auth" (RFC 7616, section 3.3:
// quoted, one or more tokens separated by commas).
bool OffersQopAuth(std::string_view list) {
    while (!list.empty()) {
        const std::size_t comma = list.find(',');
        if (EqualsNoCase(TrimBlanks(list.substr(0, comma)), "auth")) {
            return true;
        }
        list = comma == std::string_view::npos ? std::string_view{} : list.substr(comma + 1);
    }
    return false;
}

} // namespace

std::optional<std::string> BasicCredentials(std::string_view userName, std::string_view password) {
    std::string plain;
    plain.reserve(userName.size() + 1 + password.size());
    plain.append(userName).append(":").append(password);
    if (plain.size() > kBasicPlainLimit) {
        return std::nullopt;
    }
    std::array<char, kBasicBufferSize> buffer{};
    std::size_t count = 0;
    if (!Base64Encode({reinterpret_cast<const std::uint8_t*>(plain.data()), plain.size()}, buffer,
                      count)) {
        return std::nullopt;
    }
    return std::string(buffer.data(), count);
}

std::optional<DigestAlgorithm> DigestAlgorithmOf(std::string_view name) {
    static constexpr std::array<std::pair<std::string_view, DigestAlgorithm>, 5> kNames = {{
            {"", DigestAlgorithm::Md5},
            {"MD5", DigestAlgorithm::Md5},
            {"MD5-sess", DigestAlgorithm::Md5Sess},
            {"SHA-256", DigestAlgorithm::Sha256},
            {"SHA-256-sess", DigestAlgorithm::Sha256Sess},
    }};
    for (const auto& [known, algorithm] : kNames) {
        if (EqualsNoCase(name, known)) {
            return algorithm;
        }
    }
    return std::nullopt;
}

bool DigestAnswerable(const RTSPChallenge& challenge) {
    const auto algorithm = DigestAlgorithmOf(challenge.algorithm);
    if (challenge.scheme != kAuthDigest || challenge.realm.empty() || challenge.nonce.empty() ||
        !algorithm || challenge.userhash) {
        return false;
    }
    if (challenge.qop.empty()) {
        return !IsSessionAlgorithm(*algorithm);
    }
    return OffersQopAuth(challenge.qop);
}

std::string DigestAuthorization(const RTSPChallenge& challenge, std::string_view userName,
                                std::string_view password, std::string_view uri,
                                std::string_view methodName, const DigestNonceUse& use) {
    const bool withQop = !challenge.qop.empty();
    if (!DigestAnswerable(challenge) || userName.empty() || password.empty() ||
        methodName.empty() || uri.empty() || (withQop && (use.count == 0 || use.cnonce.empty()))) {
        return {};
    }
    const DigestAlgorithm algorithm = *DigestAlgorithmOf(challenge.algorithm);
    const auto hash = IsSha256(algorithm) ? Sha256Hex : Md5Hex;
    const std::string& realm = challenge.realm;
    const std::string& nonce = challenge.nonce;
    const std::string nc = FormatString("%08x", use.count);

    // RFC 7616, section 3.4.2: A1 = user:realm:password, and for a session algorithm
    // H(user:realm:password):nonce:cnonce; section 3.4.3: A2 = method:uri.
    std::string a1;
    a1.append(userName).append(":").append(realm).append(":").append(password);
    std::string ha1 = hash(a1);
    if (IsSessionAlgorithm(algorithm)) {
        ha1 = hash(ha1 + ":" + nonce + ":" + use.cnonce);
    }
    std::string a2;
    a2.append(methodName).append(":").append(uri);
    const std::string ha2 = hash(a2);
    // RFC 7616, section 3.4.1: H(HA1:nonce:nc:cnonce:qop:HA2); without qop (RFC 2069)
    // H(HA1:nonce:HA2).
    const std::string response =
            withQop ? hash(ha1 + ":" + nonce + ":" + nc + ":" + use.cnonce + ":auth:" + ha2)
                    : hash(ha1 + ":" + nonce + ":" + ha2);

    // Every camera-supplied text is an argument, never part of the format.
    std::string line = FormatString(
            "Authorization: Digest username=\"%s\", realm=\"%s\", nonce=\"%s\", uri=\"%s\", "
            "response=\"%s\"",
            Quoted(userName).c_str(), Quoted(realm).c_str(), Quoted(nonce).c_str(),
            Quoted(uri).c_str(), response.c_str());
    if (!challenge.algorithm.empty()) {
        // A recognised name, so a token that needs no quotes.
        line += FormatString(", algorithm=%s", challenge.algorithm.c_str());
    }
    if (withQop) {
        line += FormatString(", qop=auth, nc=%s, cnonce=\"%s\"", nc.c_str(),
                             Quoted(use.cnonce).c_str());
    }
    if (!challenge.opaque.empty()) {
        line += FormatString(", opaque=\"%s\"", Quoted(challenge.opaque).c_str());
    }
    line += "\r\n";
    return line;
}

std::string DigestAuthorization(const RTSPChallenge& challenge, std::string_view userName,
                                std::string_view password, std::string_view uri,
                                std::uint32_t method, const DigestNonceUse& use) {
    return DigestAuthorization(challenge, userName, password, uri, MethodName(method), use);
}

} // namespace norvane
