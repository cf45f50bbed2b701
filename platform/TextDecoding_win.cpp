#include <windows.h>

#include "platform/TextDecoding.h"

namespace qdipc {
namespace {

constexpr UINT kGb18030CodePage = 54936;

}  // namespace

std::optional<std::string> Gb18030ToUtf8(std::string_view bytes) {
    if (bytes.empty()) {
        return std::string();
    }
    const int inLength = static_cast<int>(bytes.size());
    // MB_ERR_INVALID_CHARS: an invalid or incomplete sequence fails the call
    // instead of becoming a replacement character.
    const int wideLength = MultiByteToWideChar(kGb18030CodePage, MB_ERR_INVALID_CHARS, bytes.data(),
                                               inLength, nullptr, 0);
    if (wideLength <= 0) {
        return std::nullopt;
    }
    std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
    if (MultiByteToWideChar(kGb18030CodePage, MB_ERR_INVALID_CHARS, bytes.data(), inLength,
                            wide.data(), wideLength) != wideLength) {
        return std::nullopt;
    }
    const int utf8Length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (utf8Length <= 0) {
        return std::nullopt;
    }
    std::string out(static_cast<std::size_t>(utf8Length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, out.data(), utf8Length, nullptr,
                        nullptr);
    return out;
}

}  // namespace qdipc
