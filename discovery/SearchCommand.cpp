#include "discovery/SearchCommand.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace qdipc {

const char* SearchFailureText(SearchOutcome outcome) {
    switch (outcome) {
        case SearchOutcome::HostLookupFailed:
            return "gethostbyname error";
        case SearchOutcome::SendFailed:
            return "creat socket error";
        case SearchOutcome::Sent:
            break;
    }
    return nullptr;
}

SearchCommand::SearchCommand(std::atomic<std::uint32_t>& searchId, Ipv4Endpoint destination,
                             InterfaceLister interfaces, SecondsClock clock)
    : searchId_(searchId),
      destination_(std::move(destination)),
      interfaces_(interfaces ? std::move(interfaces) : InterfaceLister{ListBroadcastInterfaces}),
      clock_(clock ? std::move(clock) : SecondsClock{SystemSeconds}),
      freshIds_(static_cast<std::uint32_t>(clock_()) ^ 0x5eed) {}

SearchOutcome SearchCommand::Run(const std::function<void()>& clear,
                                 const std::string& onlyInterface) {
    // The table is emptied first, so it is empty even when a later step fails.
    if (clear) {
        clear();
    }
    const std::uint32_t id = TimeSeededDraw(clock_());
    searchId_.store(id);
    Remember(id);
    onlyInterface_ = onlyInterface;
    failedNetworks_.clear();
    return Send(id, onlyInterface);
}

SearchOutcome SearchCommand::Repeat() {
    return Send(searchId_.load(), onlyInterface_);
}

SearchOutcome SearchCommand::Probe() {
    // An ID in the request's range (0 to 32767) that no recent request used.
    std::uint32_t id = 0;
    do {
        id = static_cast<std::uint32_t>(freshIds_() & 0x7FFF);
    } while (std::find(recentIds_.begin(), recentIds_.end(), id) != recentIds_.end());
    Remember(id);
    searchId_.store(id);
    return Send(id, onlyInterface_);
}

void SearchCommand::Remember(std::uint32_t id) {
    recentIds_.push_back(id);
    if (recentIds_.size() > kRecentIds) {
        recentIds_.erase(recentIds_.begin());
    }
}

SearchOutcome SearchCommand::Send(std::uint32_t id, const std::string& onlyInterface) {
    // Neither result is checked here: a socket that could not be created makes
    // the sends fail below.
    UdpSocket socket;
    socket.Open();
    socket.SetBroadcast(true);

    // The local addresses come from the interface list, never from a name
    // lookup, which can block for seconds on an unanswering name server.
    std::vector<Ipv4Interface> networks = interfaces_();
    if (!onlyInterface.empty()) {
        std::erase_if(networks,
                      [&](const Ipv4Interface& network) { return network.name != onlyInterface; });
    }
    if (networks.empty()) {
        socket.Close();
        return SearchOutcome::HostLookupFailed;
    }

    // One request per network, each naming the address the cameras there can
    // reach; a network whose send fails does not stop the others.
    bool sentAny = false;
    for (const Ipv4Interface& network : networks) {
        const DiscoveryRequest request = BuildDiscoveryRequest(id, network.address);
        if (socket.SendToVia(request.data(), request.size(), destination_, network) > 0) {
            sentAny = true;
        } else if (std::none_of(failedNetworks_.begin(), failedNetworks_.end(),
                                [&](const Ipv4Interface& failed) {
                                    return failed.name == network.name &&
                                           failed.address == network.address;
                                })) {
            failedNetworks_.push_back(network);
        }
    }
    socket.Close();
    return sentAny ? SearchOutcome::Sent : SearchOutcome::SendFailed;
}

}  // namespace qdipc
