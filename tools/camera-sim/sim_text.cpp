#include "sim_text.h"

#include <array>
#include <cstring>

#if defined(VANTREL_SIM_OPENSSL)
#include <openssl/evp.h>
#else
#include "text/md5.h"
#include "text/sha256.h"
#endif

namespace norvane::sim {

namespace {

constexpr char kBase64Alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return -1;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

char LowerChar(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

std::string DigestHex(DigestHash hash, std::string_view data) {
#if !defined(VANTREL_SIM_OPENSSL)
    return hash == DigestHash::Md5 ? norvane::Md5Hex(data) : norvane::Sha256Hex(data);
#else
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    const EVP_MD* type = hash == DigestHash::Md5 ? EVP_md5() : EVP_sha256();
    if (EVP_Digest(data.data(), data.size(), digest, &length, type, nullptr) != 1) {
        return {};
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * length);
    for (unsigned int i = 0; i < length; ++i) {
        out.push_back(kHex[digest[i] >> 4]);
        out.push_back(kHex[digest[i] & 0x0F]);
    }
    return out;
#endif
}

std::string Md5Hex(std::string_view data) {
    return DigestHex(DigestHash::Md5, data);
}

std::string Base64Encode(std::span<const std::uint8_t> data) {
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= data.size(); i += 3) {
        const std::uint32_t v = (static_cast<std::uint32_t>(data[i]) << 16) |
                                (static_cast<std::uint32_t>(data[i + 1]) << 8) | data[i + 2];
        out.push_back(kBase64Alphabet[(v >> 18) & 63]);
        out.push_back(kBase64Alphabet[(v >> 12) & 63]);
        out.push_back(kBase64Alphabet[(v >> 6) & 63]);
        out.push_back(kBase64Alphabet[v & 63]);
    }
    const std::size_t rest = data.size() - i;
    if (rest > 0) {
        std::uint32_t v = static_cast<std::uint32_t>(data[i]) << 16;
        if (rest == 2) {
            v |= static_cast<std::uint32_t>(data[i + 1]) << 8;
        }
        out.push_back(kBase64Alphabet[(v >> 18) & 63]);
        out.push_back(kBase64Alphabet[(v >> 12) & 63]);
        out.push_back(rest == 2 ? kBase64Alphabet[(v >> 6) & 63] : '=');
        out.push_back('=');
    }
    return out;
}

std::string Base64Encode(std::string_view text) {
    return Base64Encode(std::span<const std::uint8_t>(
            reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

std::optional<std::vector<std::uint8_t>> Base64Decode(std::string_view text) {
    while (!text.empty() && text.back() == '=') {
        text.remove_suffix(1);
    }
    if (text.size() % 4 == 1) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> out;
    std::uint32_t accumulator = 0;
    int bits = 0;
    for (char c : text) {
        const int value = Base64Value(c);
        if (value < 0) {
            return std::nullopt;
        }
        accumulator = (accumulator << 6) | static_cast<std::uint32_t>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<std::uint8_t>(accumulator >> bits));
        }
    }
    return out;
}

std::string AsciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = LowerChar(c);
    }
    return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerChar(a[i]) != LowerChar(b[i])) {
            return false;
        }
    }
    return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                             text.back() == '\n')) {
        text.remove_suffix(1);
    }
    return text;
}

std::optional<std::string> MessageHead::Header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (EqualsNoCase(key, name)) {
            return value;
        }
    }
    return std::nullopt;
}

std::optional<MessageHead> ParseMessageHead(std::string_view head) {
    MessageHead result;
    bool first = true;
    while (!head.empty()) {
        const std::size_t end = head.find('\n');
        std::string_view line = head.substr(0, end);
        head = end == std::string_view::npos ? std::string_view() : head.substr(end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (first) {
            if (line.empty()) {
                return std::nullopt;
            }
            result.startLine = std::string(line);
            first = false;
            continue;
        }
        if (line.empty()) {
            break;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) {
            return std::nullopt;
        }
        result.headers.emplace_back(std::string(TrimBlanks(line.substr(0, colon))),
                                    std::string(TrimBlanks(line.substr(colon + 1))));
    }
    if (first) {
        return std::nullopt;
    }
    return result;
}

std::size_t FindHeadEnd(std::string_view buffer) {
    // The head ends at the first empty line: "\n\r\n" or "\n\n" (tolerating lone LF endings).
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        if (buffer[i] != '\n') {
            continue;
        }
        if (i + 1 < buffer.size() && buffer[i + 1] == '\n') {
            return i + 2;
        }
        if (i + 2 < buffer.size() && buffer[i + 1] == '\r' && buffer[i + 2] == '\n') {
            return i + 3;
        }
    }
    return 0;
}

std::optional<std::string> PercentDecode(std::string_view text, bool plusIsBlank) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%') {
            if (i + 2 >= text.size()) {
                return std::nullopt;
            }
            const int high = HexValue(text[i + 1]);
            const int low = HexValue(text[i + 2]);
            if (high < 0 || low < 0) {
                return std::nullopt;
            }
            out.push_back(static_cast<char>(high * 16 + low));
            i += 2;
        } else if (plusIsBlank && text[i] == '+') {
            out.push_back(' ');
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

std::optional<std::vector<std::pair<std::string, std::string>>> ParseQuery(std::string_view query) {
    std::vector<std::pair<std::string, std::string>> out;
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view item = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        if (item.empty()) {
            continue;
        }
        const std::size_t eq = item.find('=');
        auto name = PercentDecode(item.substr(0, eq), true);
        auto value = PercentDecode(
                eq == std::string_view::npos ? std::string_view() : item.substr(eq + 1), true);
        if (!name || !value) {
            return std::nullopt;
        }
        out.emplace_back(std::move(*name), std::move(*value));
    }
    return out;
}

std::optional<std::vector<std::pair<std::string, std::string>>>
ParseAuthParams(std::string_view text) {
    std::vector<std::pair<std::string, std::string>> out;
    std::size_t i = 0;
    const auto skipBlanks = [&] {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == ',')) {
            ++i;
        }
    };
    while (true) {
        skipBlanks();
        if (i >= text.size()) {
            break;
        }
        const std::size_t nameStart = i;
        while (i < text.size() && text[i] != '=' && text[i] != ' ' && text[i] != ',') {
            ++i;
        }
        std::string name = AsciiLower(text.substr(nameStart, i - nameStart));
        while (i < text.size() && text[i] == ' ') {
            ++i;
        }
        if (i >= text.size() || text[i] != '=') {
            return std::nullopt;
        }
        ++i;
        while (i < text.size() && text[i] == ' ') {
            ++i;
        }
        std::string value;
        if (i < text.size() && text[i] == '"') {
            ++i;
            bool closed = false;
            while (i < text.size()) {
                if (text[i] == '\\' && i + 1 < text.size()) {
                    value.push_back(text[i + 1]);
                    i += 2;
                } else if (text[i] == '"') {
                    ++i;
                    closed = true;
                    break;
                } else {
                    value.push_back(text[i++]);
                }
            }
            if (!closed) {
                return std::nullopt;
            }
        } else {
            const std::size_t valueStart = i;
            while (i < text.size() && text[i] != ',' && text[i] != ' ') {
                ++i;
            }
            value = std::string(text.substr(valueStart, i - valueStart));
        }
        out.emplace_back(std::move(name), std::move(value));
    }
    return out;
}

std::optional<std::uint32_t> ParseUnsigned(std::string_view text) {
    if (text.empty() || text.size() > 10) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (value > 0xFFFFFFFFULL) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

std::string FormatDecimal(double value) {
    const auto tenths = static_cast<long long>(value * 10.0 + 0.5);
    std::string text = std::to_string(tenths / 10);
    if (tenths % 10 != 0) {
        text += "." + std::to_string(tenths % 10);
    }
    return text;
}

std::string HexString(std::uint64_t value, int digits) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out(static_cast<std::size_t>(digits), '0');
    for (int i = digits - 1; i >= 0; --i) {
        out[static_cast<std::size_t>(i)] = kHex[value & 0x0F];
        value >>= 4;
    }
    return out;
}

} // namespace norvane::sim
