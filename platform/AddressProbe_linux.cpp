// The address probe on Linux, unprivileged: a datagram to each address makes
// the kernel ask for its link-layer address (ARP); an address whose
// neighbour entry becomes complete answered. An entry still incomplete when
// the wait is over: nobody answered.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>
#include <unordered_map>

#include "platform/AddressProbe.h"
#include "platform/NeighbourTable.h"

namespace qdipc {
namespace {

// The discard service: a host that gets the datagram does nothing with it.
constexpr std::uint16_t kDiscardPort = 9;
constexpr std::chrono::milliseconds kPollEvery{20};

std::string ReadArpTable() {
    std::ifstream file("/proc/net/arp");
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace

std::vector<ProbeAnswer> ProbeAddresses(const std::vector<std::uint32_t>& addresses,
                                        const std::vector<Ipv4Interface>& interfaces,
                                        std::chrono::milliseconds wait) {
    std::vector<ProbeAnswer> answers(addresses.size(), ProbeAnswer::NotProbed);
    const int sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    // Address -> the answers it stands for (one address may be asked twice).
    std::unordered_map<std::uint32_t, std::vector<std::size_t>> pending;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        const Ipv4Interface* link = LinkOf(interfaces, addresses[i]);
        if (link == nullptr || sock < 0) {
            continue;
        }
        in_addr own{};
        if (inet_pton(AF_INET, link->address.c_str(), &own) == 1 &&
            ntohl(own.s_addr) == addresses[i]) {
            answers[i] = ProbeAnswer::Answered;  // this host's own address
            continue;
        }
        answers[i] = ProbeAnswer::Silent;
        auto [entry, added] = pending.try_emplace(addresses[i]);
        entry->second.push_back(i);
        if (!added) {
            continue;
        }
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(kDiscardPort);
        to.sin_addr.s_addr = htonl(addresses[i]);
        const char nothing = 0;
        // A datagram the kernel queues until the address resolves; when
        // the send fails the neighbour table still tells.
        (void)sendto(sock, &nothing, 1, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&to),
                     sizeof to);
    }
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (!pending.empty()) {
        for (const NeighbourEntry& entry : ParseProcNetArp(ReadArpTable())) {
            in_addr address{};
            if (inet_pton(AF_INET, entry.address.c_str(), &address) != 1) {
                continue;
            }
            const auto found = pending.find(ntohl(address.s_addr));
            if (found == pending.end()) {
                continue;
            }
            for (std::size_t i : found->second) {
                answers[i] = ProbeAnswer::Answered;
            }
            pending.erase(found);
        }
        if (pending.empty() || std::chrono::steady_clock::now() >= deadline) {
            break;
        }
        std::this_thread::sleep_for(kPollEvery);
    }
    if (sock >= 0) {
        close(sock);
    }
    return answers;
}

}  // namespace qdipc
