#include "http/auth_scheme.h"

#include <array>
#include <utility>

#include "http/http_request.h"

namespace Web {
namespace {

constexpr std::string_view kChallengeHeader = "www-authenticate";

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// token68 characters of RFC 7235 section 2.1, without the trailing "=" padding.
bool IsToken68Char(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           std::string_view("-._~+/").find(c) != std::string_view::npos;
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) {
            return false;
        }
    }
    return true;
}

// A cursor over one header value with the few reads the challenge grammar needs.
class CCursor {
public:
    explicit CCursor(std::string_view text) : m_text(text) {}

    [[nodiscard]] bool AtEnd() const { return m_pos >= m_text.size(); }

    [[nodiscard]] char Peek() const { return AtEnd() ? '\0' : m_text[m_pos]; }

    void Advance() { ++m_pos; }

    void SkipBlanks() {
        while (!AtEnd() && IsBlank(Peek())) {
            Advance();
        }
    }

    void SkipBlanksAndCommas() {
        while (!AtEnd() && (IsBlank(Peek()) || Peek() == ',')) {
            Advance();
        }
    }

    template <class Pred>
    std::string_view ReadWhile(Pred pred) {
        const std::size_t start = m_pos;
        while (!AtEnd() && pred(Peek())) {
            Advance();
        }
        return m_text.substr(start, m_pos - start);
    }

    // SkipQuoted skips a quoted-string (RFC 7230 section 3.2.6) starting at the opening quote; an
    // unterminated string runs to the end.
    void SkipQuoted() {
        Advance();
        while (!AtEnd()) {
            const char c = Peek();
            Advance();
            if (c == '\\') {
                if (!AtEnd()) {
                    Advance();
                }
            } else if (c == '"') {
                return;
            }
        }
    }

    [[nodiscard]] std::size_t Position() const { return m_pos; }

    void Seek(std::size_t pos) { m_pos = pos; }

private:
    std::string_view m_text;
    std::size_t m_pos = 0;
};

// SkipToken68 consumes a token68 that follows a scheme ("Negotiate abc+/d=="), when the text at
// the cursor is one: token68 characters, optional "=" padding, then the end of the challenge.
void SkipToken68(CCursor& cursor) {
    const std::size_t start = cursor.Position();
    const std::string_view body = cursor.ReadWhile(IsToken68Char);
    if (body.empty()) {
        return;
    }
    cursor.ReadWhile([](char c) { return c == '='; });
    cursor.SkipBlanks();
    if (!cursor.AtEnd() && cursor.Peek() != ',') {
        cursor.Seek(start); // name=value parameters follow, not a token68
    }
}

// FirstSchemeInValue returns the first known scheme of one header value, 0 when there is none.
std::uint32_t FirstSchemeInValue(std::string_view value) {
    CCursor cursor(value);
    for (;;) {
        cursor.SkipBlanksAndCommas();
        if (cursor.AtEnd()) {
            return 0;
        }
        const std::string_view token = cursor.ReadWhile(IsTokenChar);
        if (token.empty()) {
            // Not a token: a stray quoted string or separator; step over it.
            if (cursor.Peek() == '"') {
                cursor.SkipQuoted();
            } else {
                cursor.Advance();
            }
            continue;
        }
        cursor.SkipBlanks();
        if (cursor.Peek() == '=') {
            // An auth-param of the current challenge: skip "=" and its token or quoted value.
            cursor.Advance();
            cursor.SkipBlanks();
            if (cursor.Peek() == '"') {
                cursor.SkipQuoted();
            } else {
                cursor.ReadWhile([](char c) { return c != ',' && !IsBlank(c); });
            }
            continue;
        }
        if (const std::uint32_t scheme = AuthSchemeFromName(token); scheme != 0) {
            return scheme;
        }
        SkipToken68(cursor);
    }
}

} // namespace

std::uint32_t PreferredAuthScheme(std::uint32_t authScheme) {
    std::uint32_t scheme = kAuthSchemeBasic;
    if ((authScheme & 1U) != 0) {
        scheme = kAuthSchemeNtlm;
    }
    if ((authScheme & 2U) != 0) {
        scheme = kAuthSchemePassport;
    }
    if ((authScheme & 3U) == 3U) {
        scheme = kAuthSchemeDigest;
    }
    if ((authScheme & 4U) != 0) {
        scheme = kAuthSchemeNegotiate;
    }
    return scheme;
}

std::uint32_t AuthSchemeFromName(std::string_view name) {
    static constexpr std::array<std::pair<std::string_view, std::uint32_t>, 5> kSchemes{{
            {"Basic", kAuthSchemeBasic},
            {"NTLM", kAuthSchemeNtlm},
            {"Passport1.4", kAuthSchemePassport},
            {"Digest", kAuthSchemeDigest},
            {"Negotiate", kAuthSchemeNegotiate},
    }};
    for (const auto& [schemeName, value] : kSchemes) {
        if (EqualsIgnoreCase(name, schemeName)) {
            return value;
        }
    }
    return 0;
}

std::uint32_t FirstAuthScheme(std::span<const std::string> headerLines) {
    for (const std::string& line : headerLines) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) {
            continue;
        }
        std::string_view name(line.data(), colon);
        while (!name.empty() && IsBlank(name.back())) {
            name.remove_suffix(1);
        }
        if (!EqualsIgnoreCase(name, kChallengeHeader)) {
            continue;
        }
        if (const std::uint32_t scheme =
                    FirstSchemeInValue(std::string_view(line).substr(colon + 1));
            scheme != 0) {
            return scheme;
        }
    }
    return 0;
}

} // namespace Web
