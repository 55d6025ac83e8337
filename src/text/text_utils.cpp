#include "text/text_utils.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <limits>

namespace norvane {
namespace {

constexpr std::string_view kBlanks = " \t";

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

std::string FormatStringV(const char* format, va_list args) {
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string result;
    if (length > 0) {
        result.resize(static_cast<std::size_t>(length));
        std::vsnprintf(result.data(), result.size() + 1, format, args);
    }
    return result;
}

std::string FormatString(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string result = FormatStringV(format, args);
    va_end(args);
    return result;
}

std::string Trim(std::string_view text) {
    return std::string(TrimBlanks(text));
}

bool IsTokenChar(char c) {
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
        return true;
    }
    return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

std::string_view TrimBlanks(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

std::string_view FirstWord(std::string_view text) {
    return text.substr(0, text.find_first_of(kBlanks));
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return LowerAscii(x) == LowerAscii(y);
           });
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

std::string_view NextLine(std::string_view text, std::size_t& position) {
    if (position == std::string_view::npos || position >= text.size()) {
        position = std::string_view::npos;
        return {};
    }
    const std::size_t end = text.find_first_of("\r\n", position);
    if (end == std::string_view::npos) {
        const std::string_view line = text.substr(position);
        position = std::string_view::npos;
        return line;
    }
    const std::string_view line = text.substr(position, end - position);
    position = end + 1;
    if (text[end] == '\r' && position < text.size() && text[position] == '\n') {
        ++position;
    }
    return line;
}

std::optional<std::uint32_t> LeadingDecimal32(std::string_view text) {
    std::uint64_t value = 0;
    std::size_t i = text.find_first_not_of(kBlanks);
    for (; i != std::string_view::npos && i < text.size() && text[i] >= '0' && text[i] <= '9';
         ++i) {
        value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
        if (value > std::numeric_limits<std::uint32_t>::max()) {
            return std::nullopt;
        }
    }
    return static_cast<std::uint32_t>(value);
}

std::optional<std::uint32_t> ParseDecimal32(std::string_view text) {
    const std::string_view trimmed = TrimBlanks(text);
    if (trimmed.empty() || trimmed.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    return LeadingDecimal32(trimmed);
}

std::string RemoveChars(std::string_view text, std::string_view set) {
    std::string result;
    result.reserve(text.size());
    for (const char c : text) {
        if (set.find(c) == std::string_view::npos) {
            result.push_back(c);
        }
    }
    return result;
}

std::string ToLower(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        c = LowerAscii(c);
    }
    return result;
}

std::string ToUpper(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return result;
}

std::string FormatNumber(float value) {
    // The integer part is taken as an unsigned 32-bit number (negative values wrap, as the
    // rate texts have always been written); a whole value prints as that integer.
    const auto whole = static_cast<std::uint32_t>(static_cast<std::int64_t>(value));
    if (static_cast<float>(static_cast<double>(whole) - static_cast<double>(value)) == 0.0F) {
        return FormatString("%u", whole);
    }
    return FormatString("%1.1f", static_cast<double>(value));
}

std::string FindValue(std::string_view key, std::string_view separator, std::string_view text,
                      std::string_view terminators) {
    if (key.empty() || separator.empty() || terminators.empty()) {
        return {};
    }
    const auto isTerminator = [&](char c) { return terminators.find(c) != std::string_view::npos; };
    std::size_t pos = text.find(key);
    while (pos != std::string_view::npos) {
        // Start of the field: the key's own position unless the key begins with a terminator.
        std::size_t start = pos;
        while (start > 0 && isTerminator(text[start])) {
            --start;
        }
        if (isTerminator(text[start])) {
            start = 0;
        }
        const std::size_t end = text.find_first_of(terminators, pos);
        const std::size_t sep = text.find(separator, pos);
        if (sep != std::string_view::npos && sep < end) {
            if (Trim(text.substr(start, sep - start)) == key) {
                const std::size_t v = sep + separator.size();
                if (v < text.size()) {
                    return std::string(text.substr(
                            v, end == std::string_view::npos ? std::string_view::npos : end - v));
                }
            }
        }
        if (end == std::string_view::npos) {
            break;
        }
        pos = text.find(key, end);
    }
    return {};
}

bool ParseInt(std::string_view text, std::int32_t& value) {
    value = 0;
    std::size_t i = 0;
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        i = 1;
    }
    if (i == text.size()) {
        return false;
    }
    std::int64_t magnitude = 0;
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') {
            return false;
        }
        if (magnitude <= kLimit) {
            magnitude = magnitude * 10 + (c - '0');
        }
    }
    if (negative) {
        value = static_cast<std::int32_t>(-std::min(magnitude, kLimit));
    } else {
        value = static_cast<std::int32_t>(std::min(magnitude, kLimit - 1));
    }
    return true;
}

std::vector<std::string> SplitList(std::string_view text) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t comma = text.find(',', start);
        if (comma == std::string_view::npos) {
            fields.emplace_back(text.substr(start));
            break;
        }
        fields.emplace_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    return fields;
}

std::uint32_t RateFromInterval(std::uint32_t intervalMs) {
    if (intervalMs == 0) {
        return 1;
    }
    return static_cast<std::uint32_t>(std::lround(1000.0 / intervalMs));
}

} // namespace norvane
