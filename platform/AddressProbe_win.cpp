// The address probe on Windows: SendARP asks each address for its
// link-layer address, every address on a thread of its own so that the
// whole set takes about one ARP timeout.

// Winsock 2 must come before windows.h and iphlpapi.h.
#include "platform/Winsock_win.h"

#include <iphlpapi.h>
#include <windows.h>

#include <thread>

#include "platform/AddressProbe.h"

namespace qdipc {

std::vector<ProbeAnswer> ProbeAddresses(const std::vector<std::uint32_t>& addresses,
                                        const std::vector<Ipv4Interface>& interfaces,
                                        std::chrono::milliseconds /*wait: SendARP's own*/) {
    std::vector<ProbeAnswer> answers(addresses.size(), ProbeAnswer::NotProbed);
    // At most this many threads at once.
    constexpr std::size_t kBatch = 256;
    for (std::size_t first = 0; first < addresses.size(); first += kBatch) {
        std::vector<std::thread> threads;
        const std::size_t end = std::min(addresses.size(), first + kBatch);
        for (std::size_t i = first; i < end; ++i) {
            if (LinkOf(interfaces, addresses[i]) == nullptr) {
                continue;
            }
            answers[i] = ProbeAnswer::Silent;
            threads.emplace_back([&answers, &addresses, i] {
                ULONG mac[2] = {};
                ULONG length = 6;
                if (SendARP(htonl(addresses[i]), 0, mac, &length) == NO_ERROR && length > 0) {
                    answers[i] = ProbeAnswer::Answered;
                }
            });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
    }
    return answers;
}

}  // namespace qdipc
