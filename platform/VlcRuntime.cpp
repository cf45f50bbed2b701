#include "platform/VlcRuntime.h"

namespace qdipc {
namespace {

std::uint16_t Read16(std::span<const unsigned char> bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

std::uint32_t Read32(std::span<const unsigned char> bytes, std::size_t at) {
    return static_cast<std::uint32_t>(Read16(bytes, at)) |
           (static_cast<std::uint32_t>(Read16(bytes, at + 2)) << 16);
}

bool VersionCharacter(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' ||
           c == '-' || c == '+';
}

}  // namespace

std::string_view ProgramBitness() {
    return sizeof(void*) == 8 ? "64-bit" : "32-bit";
}

bool IsVlc3Version(std::string_view version) {
    return version.starts_with("3.");
}

std::string VlcVersionNumber(std::string_view version) {
    std::string number;
    for (const char c : version) {
        if (!VersionCharacter(c) || number.size() == 32) {
            break;
        }
        number += c;
    }
    return number;
}

std::optional<std::uint16_t> PeMachine(std::span<const unsigned char> head) {
    // "MZ", the offset of the PE signature at 0x3c, "PE\0\0", then Machine.
    if (head.size() < 0x40 || head[0] != 'M' || head[1] != 'Z') {
        return std::nullopt;
    }
    const std::uint32_t pe = Read32(head, 0x3c);
    if (pe > head.size() || head.size() - pe < 6) {
        return std::nullopt;
    }
    if (head[pe] != 'P' || head[pe + 1] != 'E' || head[pe + 2] != 0 || head[pe + 3] != 0) {
        return std::nullopt;
    }
    return Read16(head, pe + 4);
}

std::uint16_t ProgramMachine() {
#if defined(__x86_64__) || defined(_M_X64) || defined(_M_AMD64)
    return 0x8664;
#elif defined(__aarch64__) || defined(_M_ARM64)
    return 0xaa64;
#elif defined(__i386__) || defined(_M_IX86)
    return 0x14c;
#else
    return 0;
#endif
}

std::string VlcRuntimeReason(const VlcRuntime& runtime) {
    const std::string wanted = "VLC 3 (" + std::string(ProgramBitness()) + ")";
    switch (runtime.state) {
        case VlcRuntime::State::Loaded:
        case VlcRuntime::State::Linked:
            return {};
        case VlcRuntime::State::Missing:
            return "No picture: " + wanted + " is not installed";
        case VlcRuntime::State::WrongVersion: {
            const std::string number = VlcVersionNumber(runtime.version);
            return "No picture: " + wanted + " is needed; the VLC installed is " +
                   (number.empty() ? std::string("of an unknown version") : "version " + number);
        }
        case VlcRuntime::State::WrongBitness:
            return "No picture: " + wanted + " is needed; the VLC installed is " +
                   (sizeof(void*) == 8 ? "32-bit" : "64-bit");
        case VlcRuntime::State::Unloadable:
            return "No picture: the installed VLC could not be loaded (Windows error " +
                   std::to_string(runtime.systemError) + ")";
    }
    return {};
}

}  // namespace qdipc
