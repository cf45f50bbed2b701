#pragma once
// Which programs hold a UDP port: when the receive port cannot be bound, the
// program that has it is named (and its process ID), so that the operator
// knows what to end. PortOwner_linux.cpp reads /proc (the socket's inode in
// /proc/net/udp and udp6, then the process whose open files include it),
// PortOwner_win.cpp asks GetExtendedUdpTable; CMake picks the file.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qdipc {

struct PortOwner {
    std::string program;    // the program's name ("python3", "vlc.exe"); "" when hidden
    std::uint32_t pid = 0;  // 0 when the system does not tell (another user's process)
};

struct PortOwnerLookup {
    bool checked = false;           // false: the system could not be asked
    std::vector<PortOwner> owners;  // empty: nobody else holds the port
};

// Every process other than this one with a UDP socket bound to the local
// port (IPv4 or IPv6), each once. A socket whose process the system hides
// (Linux: another user's, without root) is one owner with pid 0.
PortOwnerLookup UdpPortOwners(std::uint16_t port);

// One line for messages: "python3 (PID 4711)", "a program of another user"
// for a hidden one; owners joined with ", ". The names are the system's, as
// they are: the caller escapes them for where they are shown.
inline std::string PortOwnersText(const std::vector<PortOwner>& owners) {
    std::string text;
    for (const PortOwner& owner : owners) {
        if (!text.empty()) {
            text += ", ";
        }
        if (owner.pid == 0) {
            text += "a program of another user";
        } else {
            text += (owner.program.empty() ? std::string("a program") : owner.program) + " (PID " +
                    std::to_string(owner.pid) + ")";
        }
    }
    return text;
}

// Linux: the inodes of the sockets bound to the local port in the text of
// /proc/net/udp or /proc/net/udp6 (exposed for tests).
std::vector<std::uint64_t> UdpSocketInodes(std::string_view procNetUdp, std::uint16_t port);

}  // namespace qdipc
