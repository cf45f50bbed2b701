#pragma once
// What a watched site's ONVIF devices say between searches. Devices announce
// themselves on the WS-Discovery group: a Hello when they join the network
// (or change), a Bye when they leave. The source listens on the group's port
// (SO_REUSEADDR, so that other listeners on the host share it), a member of
// the group on every broadcast-capable IPv4 interface, and reads what it
// hears by namespace URI; on each watch cycle it also probes (OnvifProbe, on
// a thread of its own) for the devices that announce nothing. What it heard
// waits, in arrival order, until the owner takes it (SiteWatch::ObserveOnvif
// decides what it means for the list). Toolkit-free.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "discovery/OnvifDevices.h"
#include "discovery/OnvifProbe.h"
#include "discovery/WsDiscovery.h"
#include "platform/NetworkInterfaces.h"
#include "platform/UdpSocket.h"

namespace qdipc {

struct OnvifWatchOptions {
    // The group joined and the port listened on. Tests inject a unicast
    // address (127.0.0.1, port 0): it is bound to, nothing is joined.
    Ipv4Endpoint announcements{kWsdMulticastGroup, kWsdPort};
    // The interfaces joined and probed from; the host's broadcast-capable ones
    // when empty.
    InterfaceLister interfaces;
    // Only this interface ("" all).
    std::string onlyInterface;
    // The probes of each cycle (their interfaces are the ones above).
    OnvifProbeOptions probe;
    // Called from the source's threads when something is there to take and
    // nothing was before; the window posts itself a call to take it.
    std::function<void()> wake;
};

class OnvifWatchSource {
public:
    // Announcements waiting to be taken, at most as many as a probe keeps
    // devices; beyond that they are dropped (and counted).
    static constexpr std::size_t kMaxPending = OnvifDeviceSet::kMaxDevices;

    explicit OnvifWatchSource(OnvifWatchOptions options = {});
    ~OnvifWatchSource();
    OnvifWatchSource(const OnvifWatchSource&) = delete;
    OnvifWatchSource& operator=(const OnvifWatchSource&) = delete;

    // Binds the port and joins the group on each interface, then listens on a
    // thread of its own. False when the port cannot be bound (then only the
    // probes tell about devices).
    bool Listen();
    // The bound port, 0 when not listening.
    std::uint16_t ListenPort() const { return m_port; }
    // Interfaces on which the group was joined.
    int JoinedInterfaces() const { return m_joined; }

    // Starts one round of probes unless one is still running (then false).
    // Its devices come as ProbeMatch sightings followed by one RoundEnd when
    // it is done; a device that said Bye while the round ran is left out (its
    // answer may predate the Bye).
    bool Probe();

    // Everything heard since the last call, in order.
    std::vector<OnvifSighting> Take();
    // Announcements dropped because too many were waiting.
    std::uint64_t Dropped() const { return m_dropped.load(); }

    // Ends listening and a running round (its devices are dropped); waits
    // for both threads.
    void Stop();

private:
    void ListenLoop();
    // Appends under the lock; wakes the owner when the queue was empty.
    void Push(std::vector<OnvifSighting> sightings, bool bounded);
    std::vector<Ipv4Interface> Interfaces() const;

    OnvifWatchOptions m_options;
    std::vector<Ipv4Interface> m_interfaces;
    std::unique_ptr<UdpSocket> m_socket;
    std::uint16_t m_port = 0;
    int m_joined = 0;
    std::thread m_listener;
    std::thread m_round;
    std::atomic<bool> m_roundRunning{false};
    std::atomic<bool> m_stop{false};
    std::atomic<std::uint64_t> m_dropped{0};

    std::mutex m_mutex;  // guards the two below
    std::vector<OnvifSighting> m_pending;
    std::size_t m_pendingAnnouncements = 0;
    // Endpoints that said Bye since the running round began.
    std::unordered_set<std::string> m_byeDuringRound;
};

}  // namespace qdipc
