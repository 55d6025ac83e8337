#include "text/base64.h"

#include <limits>

namespace norvane {
namespace {

constexpr std::string_view kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// SixBits returns the value of one alphabet character, -1 for any other character.
int SixBits(char c) {
    const std::size_t index = kAlphabet.find(c);
    return index == std::string_view::npos ? -1 : static_cast<int>(index);
}

} // namespace

int Base64EncodedLength(std::size_t length) {
    constexpr std::size_t kLimit = std::numeric_limits<std::int32_t>::max();
    if (length > kLimit / 4) {
        return -1;
    }
    std::size_t r = (4 * length) / 3 + length % 3;
    const std::size_t lines = r / 76 + 1;
    if (r % 76 != 0 && (r % 76) % 4 != 0) {
        r += 4 - (r % 76) % 4;
    }
    const std::size_t result = r + 2 * lines;
    return result > kLimit ? -1 : static_cast<int>(result);
}

bool Base64Encode(std::span<const std::uint8_t> data, std::span<char> buffer, std::size_t& count) {
    count = 0;
    const int needed = Base64EncodedLength(data.size());
    if (needed < 0 || static_cast<std::size_t>(needed) > buffer.size()) {
        return false;
    }
    std::size_t out = 0;
    std::size_t i = 0;
    for (; i + 3 <= data.size(); i += 3) {
        const std::uint32_t group = static_cast<std::uint32_t>(data[i]) << 16 |
                                    static_cast<std::uint32_t>(data[i + 1]) << 8 | data[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) {
            buffer[out++] = kAlphabet[(group >> shift) & 0x3F];
        }
    }
    const std::size_t rest = data.size() - i;
    if (rest > 0) {
        std::uint32_t group = static_cast<std::uint32_t>(data[i]) << 16;
        if (rest == 2) {
            group |= static_cast<std::uint32_t>(data[i + 1]) << 8;
        }
        buffer[out++] = kAlphabet[(group >> 18) & 0x3F];
        buffer[out++] = kAlphabet[(group >> 12) & 0x3F];
        buffer[out++] = rest == 2 ? kAlphabet[(group >> 6) & 0x3F] : '=';
        buffer[out++] = '=';
    }
    count = out;
    return true;
}

bool Base64Decode(std::string_view text, std::span<std::uint8_t> buffer, std::size_t& count) {
    count = 0;
    bool refused = false;
    std::uint32_t group = 0;
    int characters = 0;
    auto flush = [&]() {
        // n characters carry 6n bits: 4 -> 3 bytes, 3 -> 2, 2 -> 1, 1 -> 0.
        const std::size_t bytes = static_cast<std::size_t>(characters) * 6 / 8;
        group <<= 6 * (4 - characters);
        if (refused || count + bytes > buffer.size()) {
            refused = true;
        } else {
            for (std::size_t i = 0; i < bytes; ++i) {
                buffer[count + i] = static_cast<std::uint8_t>(group >> (16 - 8 * i));
            }
        }
        count += bytes;
        group = 0;
        characters = 0;
    };
    for (const char c : text) {
        if (c == '\0' && characters == 0) {
            break;
        }
        const int sixBits = SixBits(c);
        if (sixBits < 0) {
            continue;
        }
        group = (group << 6) | static_cast<std::uint32_t>(sixBits);
        if (++characters == 4) {
            flush();
        }
    }
    if (characters > 0) {
        flush();
    }
    return !refused;
}

} // namespace norvane
