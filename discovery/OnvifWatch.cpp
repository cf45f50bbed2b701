#include "discovery/OnvifWatch.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <utility>

#include "platform/XmlReader.h"

namespace qdipc {
namespace {

constexpr std::size_t kSlots = 4;
// Room for a burst of Hellos (a site powering up) while they are read.
constexpr int kReceiveBuffer = 1 << 20;

bool IsMulticastAddress(const std::string& address) {
    const std::optional<UrlHost> host = HostOfUrl("udp://" + address);
    return host && host->ipv4 && (*host->ipv4 >> 28) == 0xE;
}

}  // namespace

OnvifWatchSource::OnvifWatchSource(OnvifWatchOptions options) : m_options(std::move(options)) {
    m_interfaces = Interfaces();
}

OnvifWatchSource::~OnvifWatchSource() {
    Stop();
}

std::vector<Ipv4Interface> OnvifWatchSource::Interfaces() const {
    std::vector<Ipv4Interface> interfaces =
        m_options.interfaces ? m_options.interfaces() : ListBroadcastInterfaces();
    if (!m_options.onlyInterface.empty()) {
        std::erase_if(interfaces, [this](const Ipv4Interface& candidate) {
            return candidate.name != m_options.onlyInterface;
        });
    }
    return interfaces;
}

bool OnvifWatchSource::Listen() {
    if (m_socket) {
        return m_port != 0;
    }
    m_socket = std::make_unique<UdpSocket>();
    // A group is joined on every interface and heard on any address; a
    // unicast address (a test's loopback) is bound to and nothing is joined.
    const bool group = IsMulticastAddress(m_options.announcements.address);
    // Other WS-Discovery listeners on this host (and a second watch) share
    // the port.
    if (!m_socket->Open() || !m_socket->SetReuseAddress(true) ||
        !m_socket->Bind(
            {group ? "0.0.0.0" : m_options.announcements.address, m_options.announcements.port})) {
        m_socket->Close();
        return false;
    }
    for (const Ipv4Interface& interface : m_interfaces) {
        if (group && m_socket->JoinGroup(m_options.announcements.address, interface.address)) {
            ++m_joined;
        }
    }
    m_socket->ReportArrivalInterface();
    m_socket->RequestReceiveBuffer(kReceiveBuffer);
    m_port = m_socket->LocalPort();
    m_listener = std::thread([this] { ListenLoop(); });
    return true;
}

void OnvifWatchSource::ListenLoop() {
    std::vector<std::vector<std::uint8_t>> buffers(kSlots, std::vector<std::uint8_t>(kMaxXmlBytes));
    std::array<DatagramSlot, kSlots> slots{};
    std::vector<std::uint32_t> indexes;
    for (const Ipv4Interface& interface : m_interfaces) {
        indexes.push_back(interface.index);
    }
    for (;;) {
        for (std::size_t i = 0; i < kSlots; ++i) {
            slots[i] = DatagramSlot{buffers[i].data(), buffers[i].size()};
        }
        const int count = m_socket->ReceiveBatch(slots);
        if (count == 0 || m_stop.load()) {
            return;  // interrupted
        }
        if (count < 0) {
            // A passing receive error ends no watch; a lasting one costs
            // little at this pace.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        std::vector<OnvifSighting> heard;
        for (int i = 0; i < count; ++i) {
            const DatagramSlot& slot = slots[static_cast<std::size_t>(i)];
            // A truncated datagram is not read; one that came in on an
            // interface not watched (--interface) is not this watch's.
            if (slot.length > slot.capacity ||
                (!m_options.onlyInterface.empty() && slot.arrivalInterface != 0 &&
                 std::find(indexes.begin(), indexes.end(), slot.arrivalInterface) ==
                     indexes.end())) {
                continue;
            }
            std::optional<OnvifSighting> sighting = ReadAnnouncement(
                std::string_view(reinterpret_cast<const char*>(slot.buffer), slot.length),
                slot.sourceAddress, slot.arrivalInterface, m_interfaces);
            if (sighting) {
                heard.push_back(std::move(*sighting));
            }
        }
        if (!heard.empty()) {
            Push(std::move(heard), true);
        }
    }
}

void OnvifWatchSource::Push(std::vector<OnvifSighting> sightings, bool bounded) {
    bool wasEmpty = false;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        wasEmpty = m_pending.empty();
        for (OnvifSighting& sighting : sightings) {
            if (bounded) {
                if (m_pendingAnnouncements >= kMaxPending) {
                    m_dropped.fetch_add(1);
                    continue;
                }
                ++m_pendingAnnouncements;
                if (sighting.kind == OnvifSightingKind::Bye) {
                    if (m_roundRunning.load() && m_byeDuringRound.size() < kMaxPending) {
                        m_byeDuringRound.insert(sighting.device.endpoint);
                    }
                } else {
                    m_byeDuringRound.erase(sighting.device.endpoint);
                }
            } else if (sighting.kind == OnvifSightingKind::ProbeMatch &&
                       m_byeDuringRound.count(sighting.device.endpoint) != 0) {
                continue;
            }
            m_pending.push_back(std::move(sighting));
        }
        if (!bounded) {
            m_byeDuringRound.clear();
        }
        wasEmpty = wasEmpty && !m_pending.empty();
    }
    if (wasEmpty && m_options.wake) {
        m_options.wake();
    }
}

bool OnvifWatchSource::Probe() {
    if (m_roundRunning.load() || m_stop.load()) {
        return false;
    }
    if (m_round.joinable()) {
        m_round.join();
    }
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_byeDuringRound.clear();
        m_roundRunning.store(true);
    }
    OnvifProbeOptions options = m_options.probe;
    const std::vector<Ipv4Interface> interfaces = m_interfaces;
    options.interfaces = [interfaces] { return interfaces; };
    options.onlyInterface.clear();
    m_round = std::thread([this, options = std::move(options)] {
        OnvifProbe probe(options);
        probe.Run(&m_stop);
        if (m_stop.load()) {
            m_roundRunning.store(false);
            return;
        }
        std::vector<OnvifSighting> found;
        found.reserve(probe.Devices().Size() + 1);
        for (const OnvifDevice& device : probe.Devices().Devices()) {
            found.push_back({OnvifSightingKind::ProbeMatch, device});
        }
        found.push_back({OnvifSightingKind::RoundEnd, {}});
        Push(std::move(found), false);
        m_roundRunning.store(false);
    });
    return true;
}

std::vector<OnvifSighting> OnvifWatchSource::Take() {
    const std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<OnvifSighting> taken = std::move(m_pending);
    m_pending.clear();
    m_pendingAnnouncements = 0;
    return taken;
}

void OnvifWatchSource::Stop() {
    m_stop.store(true);
    if (m_socket) {
        m_socket->Interrupt();
    }
    if (m_listener.joinable()) {
        m_listener.join();
    }
    if (m_round.joinable()) {
        m_round.join();
    }
}

}  // namespace qdipc
