#include "text/auth_challenge.h"

#include <cstddef>

#include "text/text_utils.h"

namespace norvane {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// token68 of RFC 7235, section 2.1, without its trailing "=" padding.
bool IsToken68Char(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           std::string_view("-._~+/").find(c) != std::string_view::npos;
}

// A cursor over one header value with the reads the challenge grammar needs.
class CCursor {
public:
    explicit CCursor(std::string_view text) : m_text(text) {}

    [[nodiscard]] bool AtEnd() const { return m_pos >= m_text.size(); }

    [[nodiscard]] char Peek() const { return AtEnd() ? '\0' : m_text[m_pos]; }

    // SkipBlanks returns whether it skipped anything.
    bool SkipBlanks() {
        const std::size_t start = m_pos;
        while (IsBlank(Peek())) {
            ++m_pos;
        }
        return m_pos != start;
    }

    void SkipBlanksAndCommas() {
        while (IsBlank(Peek()) || Peek() == ',') {
            ++m_pos;
        }
    }

    template <class Pred>
    std::string_view ReadWhile(Pred pred) {
        const std::size_t start = m_pos;
        while (!AtEnd() && pred(m_text[m_pos])) {
            ++m_pos;
        }
        return m_text.substr(start, m_pos - start);
    }

    std::string_view Token() { return ReadWhile(IsTokenChar); }

    // QuotedString reads the quoted-string at the cursor (RFC 7230, section 3.2.6), which stands
    // on the opening quote, into `value` without its quoted pairs. False when the closing quote
    // is missing; `value` then holds the rest of the text.
    bool QuotedString(std::string& value) {
        ++m_pos;
        while (!AtEnd()) {
            const char c = m_text[m_pos++];
            if (c == '"') {
                return true;
            }
            if (c == '\\' && !AtEnd()) {
                value.push_back(m_text[m_pos++]);
            } else {
                value.push_back(c);
            }
        }
        return false;
    }

    // Token68 reads a token68 at the cursor when one stands there: token68 characters, "="
    // padding, then blanks up to a comma or the end of the value. Otherwise it reads nothing.
    bool Token68(std::string& value) {
        const std::size_t start = m_pos;
        if (ReadWhile(IsToken68Char).empty()) {
            return false;
        }
        ReadWhile([](char c) { return c == '='; });
        const std::size_t end = m_pos;
        SkipBlanks();
        if (!AtEnd() && Peek() != ',') {
            m_pos = start; // name=value parameters follow, not a token68
            return false;
        }
        value = std::string(m_text.substr(start, end - start));
        return true;
    }

    // SkipStray steps over text that is out of place: a whole quoted string, or one character.
    void SkipStray() {
        if (Peek() == '"') {
            std::string ignored;
            QuotedString(ignored);
        } else {
            ++m_pos;
        }
    }

    [[nodiscard]] std::size_t Position() const { return m_pos; }

    void Seek(std::size_t pos) { m_pos = pos; }

private:
    std::string_view m_text;
    std::size_t m_pos = 0;
};

// ReadParameters reads the auth-params of one challenge up to the next scheme or the end. A
// token not followed by "=" is the scheme of the next challenge.
void ReadParameters(CCursor& cursor, AuthChallenge& challenge, bool& wellFormed) {
    for (;;) {
        cursor.SkipBlanksAndCommas();
        if (cursor.AtEnd()) {
            return;
        }
        const std::size_t start = cursor.Position();
        const std::string_view name = cursor.Token();
        if (name.empty()) {
            wellFormed = false;
            cursor.SkipStray();
            continue;
        }
        cursor.SkipBlanks();
        if (cursor.Peek() != '=') {
            cursor.Seek(start);
            return;
        }
        cursor.Seek(cursor.Position() + 1);
        cursor.SkipBlanks();
        std::string value;
        if (cursor.Peek() == '"') {
            wellFormed = cursor.QuotedString(value) && wellFormed;
        } else {
            value = cursor.ReadWhile([](char c) { return c != ',' && !IsBlank(c); });
        }
        challenge.parameters.emplace_back(name, std::move(value));
    }
}

} // namespace

bool AuthChallenge::IsScheme(std::string_view name) const {
    return EqualsNoCase(scheme, name);
}

std::optional<std::string_view> AuthChallenge::Parameter(std::string_view name) const {
    std::optional<std::string_view> found;
    for (const auto& [parameter, value] : parameters) {
        if (EqualsNoCase(parameter, name)) {
            found = value;
        }
    }
    return found;
}

AuthChallengeList ParseChallenges(std::string_view value) {
    // challenge = auth-scheme [ 1*SP ( token68 / #auth-param ) ], challenges separated by commas.
    AuthChallengeList list;
    CCursor cursor(value);
    for (;;) {
        cursor.SkipBlanksAndCommas();
        if (cursor.AtEnd()) {
            return list;
        }
        const std::string_view scheme = cursor.Token();
        if (scheme.empty()) {
            list.wellFormed = false;
            cursor.SkipStray();
            continue;
        }
        AuthChallenge challenge;
        challenge.scheme = std::string(scheme);
        if (!(cursor.SkipBlanks() && cursor.Token68(challenge.token68))) {
            ReadParameters(cursor, challenge, list.wellFormed);
        }
        list.challenges.push_back(std::move(challenge));
    }
}

} // namespace norvane
