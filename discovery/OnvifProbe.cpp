#include "discovery/OnvifProbe.h"

#include "platform/XmlReader.h"

#include <memory>
#include <random>
#include <thread>
#include <utility>

namespace qdipc {
namespace {

constexpr std::size_t kSlots = 16;
// Room for the answers of a large site while they are read.
constexpr int kReceiveBuffer = 8 << 20;

// What one interface's receiver heard.
struct Heard {
    WsdMessage message;
    std::uint32_t source = 0;
};

void Receive(UdpSocket& socket, std::vector<Heard>& heard, int& datagrams, int& unreadable) {
    std::vector<std::vector<std::uint8_t>> buffers(kSlots, std::vector<std::uint8_t>(kMaxXmlBytes));
    std::array<DatagramSlot, kSlots> slots{};
    for (;;) {
        for (std::size_t i = 0; i < kSlots; ++i) {
            slots[i] = DatagramSlot{buffers[i].data(), buffers[i].size()};
        }
        const int count = socket.ReceiveBatch(slots);
        if (count <= 0) {
            return;
        }
        for (int i = 0; i < count; ++i) {
            const DatagramSlot& slot = slots[static_cast<std::size_t>(i)];
            ++datagrams;
            if (slot.length > slot.capacity) {
                ++unreadable;
                continue;
            }
            std::optional<WsdMessage> message = ReadWsdMessage(
                std::string_view(reinterpret_cast<const char*>(slot.buffer), slot.length));
            if (!message) {
                ++unreadable;
                continue;
            }
            heard.push_back({std::move(*message), slot.sourceAddress});
        }
    }
}

}  // namespace

OnvifProbe::OnvifProbe(OnvifProbeOptions options) : m_options(std::move(options)) {}

bool OnvifProbe::Run(const std::atomic<bool>* stop) {
    using Clock = std::chrono::steady_clock;
    std::vector<Ipv4Interface> interfaces =
        m_options.interfaces ? m_options.interfaces() : ListBroadcastInterfaces();
    if (!m_options.onlyInterface.empty()) {
        std::erase_if(interfaces, [this](const Ipv4Interface& candidate) {
            return candidate.name != m_options.onlyInterface;
        });
    }
    m_devices.SetHostInterfaces(interfaces);
    std::mt19937_64 random(m_options.seed != 0
                               ? m_options.seed
                               : (static_cast<std::uint64_t>(std::random_device{}()) << 32) ^
                                     std::random_device{}());
    m_messageIds = {NewUuidUrn(random), NewUuidUrn(random)};
    const std::array<std::string, 2> probes = {
        ProbeMessage(ProbeType::NetworkVideoTransmitter, m_messageIds[0]),
        ProbeMessage(ProbeType::Device, m_messageIds[1])};
    GapDraw draw = m_options.drawFirstGap;
    if (!draw) {
        draw = [&random] { return std::uniform_int_distribution<int>(50, 250)(random); };
    }
    const auto schedule = ProbeSendOffsets(draw);

    // One socket per interface address, bound to it.
    std::vector<std::unique_ptr<UdpSocket>> sockets;
    m_counts.clear();
    for (const Ipv4Interface& interface : interfaces) {
        OnvifInterfaceCount count;
        count.network = interface;
        auto socket = std::make_unique<UdpSocket>();
        if (socket->Open() && socket->Bind({interface.address, 0})) {
            socket->SetMulticastInterface(interface.address);
            socket->SetMulticastLoop(m_options.multicastLoop);
            socket->RequestReceiveBuffer(kReceiveBuffer);
            count.opened = true;
            count.localPort = socket->LocalPort();
        }
        m_counts.push_back(count);
        sockets.push_back(std::move(socket));
    }
    std::vector<std::vector<Heard>> heard(sockets.size());
    std::vector<int> unreadable(sockets.size(), 0);
    std::vector<std::thread> receivers;
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        if (m_counts[i].opened) {
            receivers.emplace_back(Receive, std::ref(*sockets[i]), std::ref(heard[i]),
                                   std::ref(m_counts[i].datagrams), std::ref(unreadable[i]));
        }
    }

    const Clock::time_point start = Clock::now();
    const auto stopped = [stop] { return stop != nullptr && stop->load(); };
    // Waits in short steps, so that a stop (a new search in a window, which
    // waits for this thread) is seen within 20 ms.
    const auto waitUntil = [&stopped](Clock::time_point when) {
        while (!stopped() && Clock::now() < when) {
            std::this_thread::sleep_for(
                std::min<Clock::duration>(std::chrono::milliseconds(20), when - Clock::now()));
        }
    };
    for (const std::chrono::milliseconds offset : schedule) {
        waitUntil(start + offset);
        if (stopped()) {
            break;
        }
        for (std::size_t i = 0; i < sockets.size(); ++i) {
            if (!m_counts[i].opened) {
                continue;
            }
            for (const std::string& probe : probes) {
                if (sockets[i]->SendTo(reinterpret_cast<const std::uint8_t*>(probe.data()),
                                       probe.size(), m_options.destination) > 0) {
                    ++m_counts[i].probesSent;
                }
            }
        }
    }
    waitUntil(start + m_options.listen);
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        sockets[i]->Interrupt();
    }
    for (std::thread& receiver : receivers) {
        receiver.join();
    }

    m_ignored = 0;
    bool any = false;
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        any = any || m_counts[i].probesSent > 0;
        m_ignored += unreadable[i];
        for (const Heard& answer : heard[i]) {
            const WsdMessage& message = answer.message;
            if (message.kind != WsdKind::ProbeMatches ||
                (message.relatesTo != m_messageIds[0] && message.relatesTo != m_messageIds[1])) {
                ++m_ignored;
                continue;
            }
            ++m_counts[i].accepted;
            for (const WsdEndpoint& endpoint : message.endpoints) {
                m_devices.Merge(endpoint, answer.source, m_counts[i].network.index);
            }
        }
    }
    return any;
}

}  // namespace qdipc
