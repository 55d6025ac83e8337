// MD5 (RFC 1321) for Digest authentication (RFC 2617, RFC 7616). Pure.
//
// Threads: stateless; any thread.
#pragma once

#include <string>
#include <string_view>

namespace norvane {

// Md5Hex returns the MD5 digest of the bytes of `text` as 32 lower-case hexadecimal digits.
std::string Md5Hex(std::string_view text);

} // namespace norvane
