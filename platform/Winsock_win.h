#pragma once
// Winsock 2 for the Windows socket and interface files: windows.h without
// its rarely used parts and without the min/max macros, and winsock2.h
// ahead of windows.h (which would otherwise pull in the old winsock.h).

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <array>
#include <cstddef>
#include <string>

namespace qdipc::win {

// An IPv4 address as a dotted quad; empty when Winsock cannot format it.
inline std::string DottedQuad(const in_addr& address) {
    std::array<char, INET_ADDRSTRLEN> text{};
    if (InetNtopA(AF_INET, &address, text.data(), text.size()) == nullptr) {
        return {};
    }
    return text.data();
}

// A system text (adapter or program name) as UTF-8; empty for none.
inline std::string Utf8(const wchar_t* wide) {
    if (wide == nullptr || *wide == L'\0') {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) {
        return {};
    }
    std::string text(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), size, nullptr, nullptr);
    text.resize(static_cast<std::size_t>(size - 1));
    return text;
}

// The netmask of a prefix length, in network byte order.
inline ULONG MaskOf(unsigned prefixLength) {
    if (prefixLength == 0) {
        return 0;
    }
    if (prefixLength >= 32) {
        return 0xFFFFFFFFu;
    }
    return htonl(~((1u << (32 - prefixLength)) - 1));
}

}  // namespace qdipc::win
