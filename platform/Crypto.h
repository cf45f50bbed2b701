#pragma once
// The few cryptographic pieces the device-service login needs, from the
// system's library: OpenSSL's libcrypto on Linux (Crypto_openssl.cpp),
// BCrypt and CryptBinaryToString on Windows (Crypto_win.cpp).

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qdipc {

// The 20-byte SHA-1 digest of data.
std::array<std::uint8_t, 20> Sha1(std::string_view data);

// Standard Base64 with padding, no line breaks.
std::string Base64Encode(std::string_view bytes);

// Fills out with bytes from the system's random generator; false when it
// cannot.
bool RandomBytes(std::uint8_t* out, std::size_t count);

}  // namespace qdipc
