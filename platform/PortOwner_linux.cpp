// Linux: the port's sockets from /proc/net/udp and udp6 (local port in hex,
// inode in the tenth column), their processes from the links in
// /proc/<pid>/fd ("socket:[inode]"), the program's name from
// /proc/<pid>/comm. Without root another user's /proc/<pid>/fd cannot be
// read; such a socket still counts, with pid 0.

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/PortOwner.h"

namespace qdipc {
namespace {

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool AllDigits(const char* text) {
    if (*text == '\0') {
        return false;
    }
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') {
            return false;
        }
    }
    return true;
}

}  // namespace

std::vector<std::uint64_t> UdpSocketInodes(std::string_view procNetUdp, std::uint16_t port) {
    std::vector<std::uint64_t> inodes;
    std::istringstream lines{std::string(procNetUdp)};
    std::string line;
    std::getline(lines, line);  // the column titles
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::array<std::string, 10> field;
        for (std::string& f : field) {
            fields >> f;
        }
        // local_address is ADDRESS:PORT, the port in hex.
        const std::string& local = field[1];
        const auto colon = local.rfind(':');
        if (colon == std::string::npos || field[9].empty()) {
            continue;
        }
        char* end = nullptr;
        const unsigned long localPort = std::strtoul(local.c_str() + colon + 1, &end, 16);
        if (end == local.c_str() + colon + 1 || *end != '\0' || localPort != port) {
            continue;
        }
        const std::uint64_t inode = std::strtoull(field[9].c_str(), &end, 10);
        if (*end == '\0' && inode != 0 &&
            std::find(inodes.begin(), inodes.end(), inode) == inodes.end()) {
            inodes.push_back(inode);
        }
    }
    return inodes;
}

PortOwnerLookup UdpPortOwners(std::uint16_t port) {
    PortOwnerLookup lookup;
    const std::string udp = ReadWhole("/proc/net/udp");
    if (udp.empty()) {
        return lookup;
    }
    lookup.checked = true;
    std::vector<std::uint64_t> inodes = UdpSocketInodes(udp, port);
    for (std::uint64_t inode : UdpSocketInodes(ReadWhole("/proc/net/udp6"), port)) {
        if (std::find(inodes.begin(), inodes.end(), inode) == inodes.end()) {
            inodes.push_back(inode);
        }
    }
    if (inodes.empty()) {
        return lookup;
    }
    std::vector<std::string> targets;
    for (std::uint64_t inode : inodes) {
        targets.push_back("socket:[" + std::to_string(inode) + "]");
    }
    std::vector<bool> found(inodes.size(), false);
    const std::string self = std::to_string(::getpid());

    if (DIR* proc = ::opendir("/proc")) {
        while (const dirent* process = ::readdir(proc)) {
            if (!AllDigits(process->d_name)) {
                continue;
            }
            const std::string base = std::string("/proc/") + process->d_name;
            DIR* fds = ::opendir((base + "/fd").c_str());
            if (fds == nullptr) {
                continue;  // gone, or another user's
            }
            bool holds = false;
            while (const dirent* fd = ::readdir(fds)) {
                if (!AllDigits(fd->d_name)) {
                    continue;
                }
                std::array<char, 64> link{};
                const std::string path = base + "/fd/" + fd->d_name;
                const ssize_t length = ::readlink(path.c_str(), link.data(), link.size() - 1);
                if (length <= 0) {
                    continue;
                }
                const std::string_view target(link.data(), static_cast<std::size_t>(length));
                for (std::size_t i = 0; i < targets.size(); ++i) {
                    if (target == targets[i]) {
                        found[i] = true;
                        holds = true;
                    }
                }
            }
            ::closedir(fds);
            if (holds && self != process->d_name) {
                std::string comm = ReadWhole(base + "/comm");
                while (!comm.empty() && (comm.back() == '\n' || comm.back() == '\0')) {
                    comm.pop_back();
                }
                lookup.owners.push_back(
                    {comm, static_cast<std::uint32_t>(std::strtoul(process->d_name, nullptr, 10))});
            }
        }
        ::closedir(proc);
    }
    // A socket no readable process holds belongs to a process hidden from us.
    if (std::find(found.begin(), found.end(), false) != found.end()) {
        lookup.owners.push_back({});
    }
    return lookup;
}

}  // namespace qdipc
