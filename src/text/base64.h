// Base64 with the RFC 4648 alphabet (section 4): the encoder of Basic credentials and the decoder
// of parameter sets carried in session descriptions. Pure.
//
// Threads: stateless; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace norvane {

// Base64EncodedLength returns the capacity the encoder demands for `length` input bytes (four
// characters per started group of three, plus two bytes per started run of 76 characters), or -1
// when that cannot be computed in 31 bits. 72 bytes need 100, 73 need 104.
int Base64EncodedLength(std::size_t length);

// Base64Encode writes the base64 text of `data` ("=" padding, no line breaks) into `buffer` and
// sets `count` to the number of characters written. It fails, writing nothing, when
// Base64EncodedLength(data.size()) exceeds the buffer's size.
bool Base64Encode(std::span<const std::uint8_t> data, std::span<char> buffer, std::size_t& count);

// Base64Decode decodes base64 text, skipping every other character ("=" and line breaks
// included); a NUL between groups ends the text. `count` receives the number of bytes the whole
// text decodes to; bytes beyond the capacity of `buffer` are not written and make the result
// false.
bool Base64Decode(std::string_view text, std::span<std::uint8_t> buffer, std::size_t& count);

} // namespace norvane
