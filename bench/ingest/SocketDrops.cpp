#include "bench/ingest/SocketDrops.h"

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace ingest_bench {

// A line reads: sl local_address rem_address st tx_queue:rx_queue tr:tm->when
// retrnsmt uid timeout inode ref pointer drops, addresses as hex "ADDR:PORT".
std::optional<UdpSocketCounters> ReadUdpSocketCounters(std::uint16_t localPort) {
    std::ifstream table("/proc/net/udp");
    std::string line;
    std::getline(table, line);  // the header
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::vector<std::string> tokens;
        for (std::string token; fields >> token;) {
            tokens.push_back(token);
        }
        if (tokens.size() < 13) {
            continue;
        }
        const std::size_t colon = tokens[1].find(':');
        if (colon == std::string::npos ||
            std::stoul(tokens[1].substr(colon + 1), nullptr, 16) != localPort) {
            continue;
        }
        UdpSocketCounters counters;
        const std::size_t queueColon = tokens[4].find(':');
        if (queueColon != std::string::npos) {
            counters.rxQueueBytes = std::stoull(tokens[4].substr(queueColon + 1), nullptr, 16);
        }
        counters.drops = std::stoull(tokens.back());
        return counters;
    }
    return std::nullopt;
}

}  // namespace ingest_bench
