// Fuzzes the text parsers of the device codecs with arbitrary text: they must
// never read past the text (the device-ID parser reads 17 characters, so it
// gets a zero-filled buffer of at least that size) and must agree with the
// formatters on their own output. The strict parsers of the settings checks
// get the same text: an address they accept is written exactly as it is
// formatted, a MAC they accept reads the same through the lenient parser.

#include <algorithm>
#include <array>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "discovery/CellText.h"
#include "discovery/DeviceCodecs.h"
#include "settings/SettingsValidation.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qdipc;
    if (size == 0) {
        return 0;
    }
    // The first byte picks the radix (0..63, so values above 36 occur too);
    // the rest is the text, terminated, in a buffer of exactly its own size.
    const int radix = data[0] % 64;
    std::vector<char> text(data + 1, data + size);
    text.push_back('\0');
    const std::size_t textLength = std::strlen(text.data());

    const char* stop = nullptr;
    ParseUnsigned(text.data(), radix, &stop);
    Require(stop >= text.data() && stop <= text.data() + textLength);
    if (radix > 36) {
        Require(stop == text.data());
    }

    std::array<std::uint8_t, 6> mac{};
    Require(ParseMac(text.data(), mac.data()) == 0);
    Require(ParseMac(FormatMac(mac.data()).c_str(), mac.data()) == 0);
    std::array<std::uint8_t, 6> again{};
    ParseMac(FormatMac(mac.data()).c_str(), again.data());
    Require(again == mac);

    std::vector<char> zeroFilled(std::max<std::size_t>(text.size(), 17), '\0');
    std::memcpy(zeroFilled.data(), text.data(), text.size());
    std::array<std::uint8_t, 8> id{};
    Require(ParseDeviceId(zeroFilled.data(), id.data()) == 0);
    std::array<std::uint8_t, 8> idAgain{};
    ParseDeviceId(FormatDeviceId(id.data()).c_str(), idAgain.data());
    Require(idAgain == id);

    const std::string_view raw(reinterpret_cast<const char*>(data + 1), size - 1);
    if (const auto address = ParseIpv4Strict(raw)) {
        Require(FormatIpv4(*address) == raw);
        Require(ParseIpv4Lenient(raw) == address);  // strict is a subset of lenient
    } else if (const auto lenient = ParseIpv4Lenient(raw)) {
        Require(FormatIpv4(*lenient) != raw);  // only leading zeros told them apart
    }
    if (const auto strictId = ParseDeviceIdStrict(raw)) {
        std::array<std::uint8_t, 8> lenientId{};
        ParseDeviceId(zeroFilled.data(), lenientId.data());
        Require(lenientId == *strictId);
        Require(FormatDeviceId(strictId->data()) == LowerAscii(std::string(raw)));
    }
    if (const auto strictMac = ParseMacStrict(raw)) {
        std::array<std::uint8_t, 6> lenient{};
        ParseMac(text.data(), lenient.data());
        Require(lenient == *strictMac);
    }
    // Four fields cut at the first three bytes of value 0x01; never a crash,
    // and a problem always names a field.
    std::array<std::string_view, 4> fields{};
    std::string_view rest = raw;
    for (std::size_t f = 0; f < fields.size(); ++f) {
        const std::size_t cut = f + 1 < fields.size() ? rest.find('\x01') : rest.npos;
        fields[f] = rest.substr(0, cut);
        rest = cut == rest.npos ? std::string_view() : rest.substr(cut + 1);
    }
    const auto mode = static_cast<AddressingMode>(data[0] % 3);
    if (const auto problem = ValidateSettings(fields[0], fields[1], fields[2], fields[3], mode)) {
        Require(!problem->reason.empty());
    }

    for (std::size_t i = 0; i < text.size(); ++i) {
        const int value = HexDigitValue(text[i]);
        Require(value >= 0 && value <= 15);
    }
    return 0;
}
