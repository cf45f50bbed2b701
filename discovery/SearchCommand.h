#pragma once
// The search command without its window: clear the table, draw a search ID,
// broadcast one DiscoveryRequest, report the outcome. Starting the receive
// worker once and showing the message box are the main window's part.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "discovery/DiscoveryDatagrams.h"
#include "discovery/TimeSeededDraw.h"
#include "platform/UdpSocket.h"

namespace qdipc {

enum class SearchOutcome {
    Sent,              // the request went out
    HostLookupFailed,  // "gethostbyname error"
    SendFailed,        // "creat socket error": no socket, or the send gave <= 0
};

// The message box text of a failed search, nullptr for Sent.
const char* SearchFailureText(SearchOutcome outcome);

using HostAddressLookup = std::function<std::optional<std::string>()>;

class SearchCommand {
public:
    // searchId is the shared word the receive worker compares against; it
    // must outlive this object. The defaults are the fixed network endpoints;
    // tests inject loopback ones.
    explicit SearchCommand(std::atomic<std::uint32_t>& searchId,
                           Ipv4Endpoint destination = {kLimitedBroadcast, kCameraCommandPort},
                           HostAddressLookup lookup = {}, SecondsClock clock = SystemSeconds);

    // 1. clear() 2. draw and store the search ID 3. socket with SO_BROADCAST
    // 4.-6. look up the local address and build the request 7. send, close.
    SearchOutcome Run(const std::function<void()>& clear);

private:
    std::atomic<std::uint32_t>& searchId_;
    Ipv4Endpoint destination_;
    HostAddressLookup lookup_;
    SecondsClock clock_;
};

}  // namespace qdipc
