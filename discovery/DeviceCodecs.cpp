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

namespace {

// A dotted quad's value; with leadingZeros false a number may not start
// with 0 unless it is 0.
std::optional<std::uint32_t> ParseQuad(std::string_view text, bool leadingZeros) {
    std::uint32_t value = 0;
    std::size_t i = 0;
    for (int part = 0; part < 4; ++part) {
        if (part != 0) {
            if (i == text.size() || text[i] != '.') {
                return std::nullopt;
            }
            ++i;
        }
        const std::size_t start = i;
        unsigned number = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 4) {
            number = number * 10 + static_cast<unsigned>(text[i] - '0');
            ++i;
        }
        const std::size_t digits = i - start;
        if (digits == 0 || digits > 3 || number > 255 ||
            (!leadingZeros && digits > 1 && text[start] == '0')) {
            return std::nullopt;
        }
        value = (value << 8) | number;
    }
    if (i != text.size()) {
        return std::nullopt;
    }
    return value;
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Hexadecimal pairs at the given positions of text, one byte each.
template <std::size_t N>
bool ReadPairs(std::string_view text, const std::array<std::size_t, N>& at,
               std::array<std::uint8_t, N>& out) {
    for (std::size_t k = 0; k < N; ++k) {
        const char high = text[at[k]];
        const char low = text[at[k] + 1];
        if (!IsHexDigit(high) || !IsHexDigit(low)) {
            return false;
        }
        out[k] = static_cast<std::uint8_t>(HexDigitValue(high) * 16 + HexDigitValue(low));
    }
    return true;
}

}  // namespace

std::optional<std::uint32_t> ParseIpv4Strict(std::string_view text) {
    return ParseQuad(text, false);
}

std::optional<int> MaskPrefixLength(std::uint32_t mask) {
    // Contiguous ones: the inverted mask plus one is a power of two.
    const std::uint32_t hostBits = ~mask;
    if ((hostBits & (hostBits + 1)) != 0) {
        return std::nullopt;
    }
    int prefix = 0;
    for (std::uint32_t bit = 0x80000000u; bit != 0 && (mask & bit) != 0; bit >>= 1) {
        ++prefix;
    }
    return prefix;
}

std::optional<std::uint32_t> ParseIpv4Lenient(std::string_view text) {
    return ParseQuad(text, true);
}

std::optional<std::array<std::uint8_t, 8>> ParseDeviceIdStrict(std::string_view text) {
    std::array<std::uint8_t, 8> id{};
    if (text.size() != 17 || text[8] != '-' ||
        !ReadPairs<8>(text, {0, 2, 4, 6, 9, 11, 13, 15}, id)) {
        return std::nullopt;
    }
    return id;
}

std::optional<std::array<std::uint8_t, 6>> ParseMacStrict(std::string_view text) {
    std::array<std::uint8_t, 6> mac{};
    if (text.size() != 17 || (text[2] != ':' && text[2] != '-')) {
        return std::nullopt;
    }
    for (std::size_t at = 5; at < 17; at += 3) {
        if (text[at] != text[2]) {
            return std::nullopt;
        }
    }
    if (!ReadPairs<6>(text, {0, 3, 6, 9, 12, 15}, mac)) {
        return std::nullopt;
    }
    return mac;
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
