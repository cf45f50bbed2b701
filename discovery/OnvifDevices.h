#pragma once
// The ONVIF devices a discovery heard, one per EndpointReference address:
// what several answers (interfaces, repeats, both probes) say about a device
// merged, and the cells the device list shows for it worked out from that.
// Toolkit-free, no sockets; one thread owns a set.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "discovery/WsDiscovery.h"
#include "platform/NetworkInterfaces.h"

namespace qdipc {

struct OnvifDevice {
    std::string endpoint;  // the EndpointReference address: the key
    std::vector<XmlQName> types;
    std::vector<std::string> scopes;
    std::vector<std::string> xaddrs;  // the device's service addresses, for asking it more
    OnvifScopeValues scopeValues;     // name, hardware, location
    // The IP cell: an IPv4 XAddr on the network of the interface the answer
    // came in on, else the first usable IPv4 XAddr, else the datagram's
    // source; never link-local or IPv6. "" when none is usable.
    std::string ip;
    std::string mac;                  // from an EUI-64 link-local XAddr; "" when unknown
    std::uint32_t sourceAddress = 0;  // of the latest answer, host order
    std::uint32_t arrivalInterface = 0;
    int answers = 0;  // answers merged
};

class OnvifDeviceSet {
public:
    // Ten thousand devices at most: a flood of made-up endpoints must not
    // take all memory.
    static constexpr std::size_t kMaxDevices = 10'000;

    // The host's interfaces, by which an XAddr on the arrival interface's
    // network is preferred.
    void SetHostInterfaces(std::vector<Ipv4Interface> interfaces);

    // Merges one device's answer, from sourceAddress (host order), come in on
    // arrivalInterface. Returns the device's index, or -1 when it was refused
    // (the set is full).
    int Merge(const WsdEndpoint& endpoint, std::uint32_t sourceAddress,
              std::uint32_t arrivalInterface);
    // The device with this endpoint address, or -1.
    int Find(std::string_view endpoint) const;

    const std::vector<OnvifDevice>& Devices() const { return m_devices; }
    std::size_t Size() const { return m_devices.size(); }
    void Clear();

private:
    void ChooseAddresses(OnvifDevice& device) const;

    std::vector<OnvifDevice> m_devices;
    std::unordered_map<std::string, int> m_index;
    std::vector<Ipv4Interface> m_interfaces;
};

enum class OnvifSightingKind {
    Hello,       // a device announced itself
    Bye,         // a device said it leaves; only device.endpoint is known
    ProbeMatch,  // a device answered the cycle's probes
    RoundEnd,    // the cycle's probes are over: the devices that did not answer missed one
};

struct OnvifSighting {
    OnvifSightingKind kind = OnvifSightingKind::Hello;
    OnvifDevice device;
};

// What one datagram heard on the WS-Discovery group says (a watch listens
// there, OnvifWatchSource): a Hello of an ONVIF device
// (IsOnvifEndpoint) with the device as the list shows it (its IP chosen by
// the networks of interfaces, as for an answer to a probe), or a Bye with an
// EndpointReference address. Nothing for anything else: unreadable, larger
// than 64 KiB or too deep, another message, another kind of device, a Bye
// without an address.
std::optional<OnvifSighting> ReadAnnouncement(std::string_view datagram,
                                              std::uint32_t sourceAddress,
                                              std::uint32_t arrivalInterface,
                                              const std::vector<Ipv4Interface>& interfaces);

// A dotted quad of a host-order address.
std::string DottedQuadOf(std::uint32_t address);

}  // namespace qdipc
