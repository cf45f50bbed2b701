#pragma once
// Helpers for writing expected wire bytes in tests: hexadecimal text such as
// "D3 ED CB B3" and byte-level edits of a zero-filled buffer.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace qdipc::test {

// "D3 ED cb b3" -> {0xD3, 0xED, 0xCB, 0xB3}; white space between bytes.
inline std::vector<std::uint8_t> Hex(std::string_view text) {
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        throw std::invalid_argument("not a hex digit");
    };
    std::vector<std::uint8_t> bytes;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ' ' || text[i] == '\n') {
            ++i;
            continue;
        }
        bytes.push_back(static_cast<std::uint8_t>(nibble(text[i]) * 16 + nibble(text[i + 1])));
        i += 2;
    }
    return bytes;
}

inline void Put(std::vector<std::uint8_t>& buffer, std::size_t offset,
                const std::vector<std::uint8_t>& bytes) {
    if (buffer.size() < offset + bytes.size())
        buffer.resize(offset + bytes.size());
    std::memcpy(buffer.data() + offset, bytes.data(), bytes.size());
}

inline void PutText(std::vector<std::uint8_t>& buffer, std::size_t offset, std::string_view text) {
    if (buffer.size() < offset + text.size())
        buffer.resize(offset + text.size());
    std::memcpy(buffer.data() + offset, text.data(), text.size());
}

}  // namespace qdipc::test
