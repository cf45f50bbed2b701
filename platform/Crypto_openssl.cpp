#include "platform/Crypto.h"

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

namespace qdipc {

std::array<std::uint8_t, 20> Sha1(std::string_view data) {
    std::array<std::uint8_t, 20> digest{};
    SHA1(reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest.data());
    return digest;
}

std::string Base64Encode(std::string_view bytes) {
    // Four characters for each started group of three bytes, and the zero.
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                                       reinterpret_cast<const unsigned char*>(bytes.data()),
                                       static_cast<int>(bytes.size()));
    text.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    return text;
}

bool RandomBytes(std::uint8_t* out, std::size_t count) {
    return RAND_bytes(out, static_cast<int>(count)) == 1;
}

}  // namespace qdipc
