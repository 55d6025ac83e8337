// SHA-256 (FIPS 180-4, section 6.2) for Digest authentication (RFC 7616, section 3.3). Pure.
//
// Threads: stateless; any thread.
#pragma once

#include <string>
#include <string_view>

namespace norvane {

// Sha256Hex returns the SHA-256 digest of the bytes of `text` as 64 lower-case hexadecimal digits.
std::string Sha256Hex(std::string_view text);

} // namespace norvane
