#include <windows.h>

#include "platform/TextDecoding.h"

namespace qdipc {
namespace {

// GB18030, and GBK (its one- and two-byte part) for a system that lacks the
// former or claims it and cannot decode with it (Wine, for one). GBK is a
// subset, so it never reads bytes that GB18030 refused in another way.
constexpr UINT kCodePages[] = {54936, 936};

// The bytes in UTF-16; nullopt when they are not valid in the code page.
std::optional<std::wstring> ToWide(UINT codePage, std::string_view bytes) {
    const int inLength = static_cast<int>(bytes.size());
    // MB_ERR_INVALID_CHARS: an invalid or incomplete sequence fails the call
    // instead of becoming a replacement character.
    const int wideLength =
        MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), inLength, nullptr, 0);
    if (wideLength <= 0) {
        return std::nullopt;
    }
    std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
    if (MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), inLength, wide.data(),
                            wideLength) != wideLength) {
        return std::nullopt;
    }
    return wide;
}

}  // namespace

std::optional<std::string> Gb18030ToUtf8(std::string_view bytes) {
    if (bytes.empty()) {
        return std::string();
    }
    for (const UINT codePage : kCodePages) {
        if (!IsValidCodePage(codePage)) {
            continue;
        }
        const std::optional<std::wstring> wide = ToWide(codePage, bytes);
        if (!wide) {
            continue;
        }
        const int wideLength = static_cast<int>(wide->size());
        const int utf8Length =
            WideCharToMultiByte(CP_UTF8, 0, wide->data(), wideLength, nullptr, 0, nullptr, nullptr);
        if (utf8Length <= 0) {
            return std::nullopt;
        }
        std::string out(static_cast<std::size_t>(utf8Length), '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide->data(), wideLength, out.data(), utf8Length, nullptr,
                            nullptr);
        return out;
    }
    return std::nullopt;
}

}  // namespace qdipc
