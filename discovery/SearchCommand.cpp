#include "discovery/SearchCommand.h"

#include <utility>

#include "platform/HostAddress.h"

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
                             HostAddressLookup lookup, SecondsClock clock)
    : searchId_(searchId),
      destination_(std::move(destination)),
      lookup_(lookup ? std::move(lookup) : HostAddressLookup{LocalIpv4Address}),
      clock_(clock ? std::move(clock) : SecondsClock{SystemSeconds}) {}

SearchOutcome SearchCommand::Run(const std::function<void()>& clear) {
    // The table is emptied first, so it is empty even when a later step fails.
    if (clear) {
        clear();
    }
    const std::uint32_t id = TimeSeededDraw(clock_());
    searchId_.store(id);

    // Neither result is checked here: a socket that could not be created makes
    // the send fail below.
    UdpSocket socket;
    socket.Open();
    socket.SetBroadcast(true);

    const std::optional<std::string> localIp = lookup_();
    if (!localIp) {
        socket.Close();
        return SearchOutcome::HostLookupFailed;
    }

    const DiscoveryRequest request = BuildDiscoveryRequest(id, *localIp);
    const long sent = socket.SendTo(request.data(), request.size(), destination_);
    socket.Close();
    return sent > 0 ? SearchOutcome::Sent : SearchOutcome::SendFailed;
}

}  // namespace qdipc
