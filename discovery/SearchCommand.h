#pragma once
// The search command without its window: clear the table, draw a search ID,
// broadcast one DiscoveryRequest out of every IPv4 network the host is on,
// each carrying that network's own address, report the outcome. Binding and
// starting the receive worker and showing the message box are the caller's
// part.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "discovery/DiscoveryDatagrams.h"
#include "discovery/TimeSeededDraw.h"
#include "platform/NetworkInterfaces.h"
#include "platform/UdpSocket.h"

namespace qdipc {

enum class SearchOutcome {
    Sent,              // the request went out on at least one interface
    HostLookupFailed,  // "gethostbyname error": no interface to send on
    SendFailed,        // "creat socket error": no socket, or every send gave <= 0
};

// When a search sends its request again, counted from the first request: a
// camera that misses one request (a lossy radio link, a busy switch) is still
// listed. Every repeat is the first request again, byte for byte, with the
// same search ID, so its replies are de-duplicated like any other.
inline constexpr std::array<std::chrono::milliseconds, 2> kSearchRepeatOffsets{
    std::chrono::milliseconds(300), std::chrono::milliseconds(1000)};

// The message box text of a failed search, nullptr for Sent.
const char* SearchFailureText(SearchOutcome outcome);

class SearchCommand {
public:
    // searchId is the shared word the receive worker compares against; it
    // must outlive this object. The defaults are the fixed network endpoint
    // and the host's broadcast-capable interfaces; tests inject loopback ones.
    explicit SearchCommand(std::atomic<std::uint32_t>& searchId,
                           Ipv4Endpoint destination = {kLimitedBroadcast, kCameraCommandPort},
                           InterfaceLister interfaces = {}, SecondsClock clock = SystemSeconds);

    // 1. clear() 2. draw and store the search ID 3. socket with SO_BROADCAST
    // 4. list the interfaces (only the one named onlyInterface, when given)
    // 5. for each, build the request with its address and send it out of it
    // 6. close. Sent when at least one request went out.
    SearchOutcome Run(const std::function<void()>& clear, const std::string& onlyInterface = "");

    // Sends the request of the latest Run again: the search ID stored now,
    // on the interfaces Run used (listed afresh). Draws nothing, clears
    // nothing. Also the probe that looks for a camera after a settings change.
    SearchOutcome Repeat();

    // The request of the latest Run again, under a fresh search ID that none
    // of the latest kRecentIds requests used, stored at once (the receive
    // worker takes only its replies from now on): a confirmation probe, whose
    // replies show which request they answer. The ID is SearchId() after.
    SearchOutcome Probe();
    std::uint32_t SearchId() const { return searchId_.load(); }
    static constexpr std::size_t kRecentIds = 64;

    // The networks whose request could not be sent, by the latest Run and the
    // repeats after it (each network once, in the order they failed); empty
    // when every send went out.
    const std::vector<Ipv4Interface>& FailedNetworks() const { return failedNetworks_; }

private:
    void Remember(std::uint32_t id);
    // Steps 3 to 6 of Run with this search ID.
    SearchOutcome Send(std::uint32_t id, const std::string& onlyInterface);

    std::atomic<std::uint32_t>& searchId_;
    Ipv4Endpoint destination_;
    InterfaceLister interfaces_;
    SecondsClock clock_;
    std::string onlyInterface_;  // of the latest Run
    // The IDs of the latest requests, oldest first; and the draw of fresh ones.
    std::vector<std::uint32_t> recentIds_;
    std::minstd_rand freshIds_;
    std::vector<Ipv4Interface> failedNetworks_;
};

}  // namespace qdipc
