#include "discovery/DeviceCodecs.h"

namespace qdipc {
namespace {

constexpr char kLowerHexDigits[] = "0123456789abcdef";

void AppendPair(std::string& out, std::uint8_t byte) {
    out.push_back(kLowerHexDigits[byte >> 4]);
    out.push_back(kLowerHexDigits[byte & 0x0F]);
}

// Pairs of count bytes; the separator follows every byte for which
// separatorAfter(index) holds.
template <typename SeparatorRule>
std::string FormatPairs(const std::uint8_t* bytes, int count, char separator,
                        SeparatorRule separatorAfter) {
    std::string text;
    text.reserve(static_cast<std::size_t>(count) * 3);
    for (int i = 0; i < count; ++i) {
        AppendPair(text, bytes[i]);
        if (separatorAfter(i)) {
            text.push_back(separator);
        }
    }
    return text;
}

// The value of c as a digit of any radix up to 36, or -1 for a character that
// is a digit of no radix (bytes with the high bit set included).
int AlphanumericValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'Z') {
        return c - 'A' + 10;
    }
    return -1;
}

std::uint8_t PairValue(char high, char low) {
    return static_cast<std::uint8_t>(16 * HexDigitValue(high) + HexDigitValue(low));
}

}  // namespace

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return 0;
}

std::string FormatDeviceId(const std::uint8_t* bytes8) {
    return FormatPairs(bytes8, 8, '-', [](int i) { return i == 3; });
}

std::string FormatMac(const std::uint8_t* bytes6) {
    return FormatPairs(bytes6, 6, ':', [](int i) { return i < 5; });
}

std::string FormatHardwareVer(const std::uint8_t* bytes8) {
    return FormatPairs(bytes8, 8, ':', [](int i) { return i < 7; });
}

int ParseDeviceId(const char* text, std::uint8_t* out8) {
    if (text == nullptr || out8 == nullptr) {
        return -1;
    }
    // Pairs at 0-1, 2-3, 4-5, 6-7, then (position 8 skipped) 9-10 ... 15-16.
    for (int i = 0; i < 4; ++i) {
        out8[i] = PairValue(text[2 * i], text[2 * i + 1]);
        out8[4 + i] = PairValue(text[9 + 2 * i], text[10 + 2 * i]);
    }
    return 0;
}

std::int32_t ParseUnsigned(const char* text, int radix, const char** stop) {
    std::uint32_t value = 0;
    const char* p = text;
    if (radix <= 36) {
        while (true) {
            const int digit = AlphanumericValue(*p);
            if (digit < 0 || digit >= radix) {
                break;
            }
            value = value * static_cast<std::uint32_t>(radix) + static_cast<std::uint32_t>(digit);
            ++p;
        }
    }
    if (stop != nullptr) {
        *stop = p;
    }
    return static_cast<std::int32_t>(value);
}

int ParseMac(const char* text, std::uint8_t* out6) {
    if (text == nullptr || out6 == nullptr) {
        return -1;
    }
    const char* p = text;
    for (int i = 0; i < 6; ++i) {
        const char* stop = p;
        out6[i] = static_cast<std::uint8_t>(ParseUnsigned(p, 16, &stop) & 0xFF);
        // Exactly one character separates the fields; at the end of the text
        // every remaining field reads as 0.
        p = (*stop != '\0') ? stop + 1 : stop;
    }
    return 0;
}

}  // namespace qdipc
