#include "discovery/OnvifDevices.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "platform/XmlReader.h"

namespace qdipc {
namespace {

std::uint32_t ParseQuad(const std::string& text) {
    const std::optional<UrlHost> host = HostOfUrl("x://" + text);
    return host && host->ipv4 ? *host->ipv4 : 0;
}

template <typename T>
void AddUnique(std::vector<T>& to, const std::vector<T>& items) {
    for (const T& item : items) {
        if (to.size() >= kMaxWsdListItems) {
            return;
        }
        if (std::find(to.begin(), to.end(), item) == to.end()) {
            to.push_back(item);
        }
    }
}

}  // namespace

std::string DottedQuadOf(std::uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", (address >> 24) & 0xFF, (address >> 16) & 0xFF,
                  (address >> 8) & 0xFF, address & 0xFF);
    return text;
}

void OnvifDeviceSet::SetHostInterfaces(std::vector<Ipv4Interface> interfaces) {
    m_interfaces = std::move(interfaces);
}

void OnvifDeviceSet::Clear() {
    m_devices.clear();
    m_index.clear();
}

int OnvifDeviceSet::Find(std::string_view endpoint) const {
    const auto found = m_index.find(std::string(endpoint));
    return found == m_index.end() ? -1 : found->second;
}

int OnvifDeviceSet::Merge(const WsdEndpoint& endpoint, std::uint32_t sourceAddress,
                          std::uint32_t arrivalInterface) {
    // An answer without an endpoint address is keyed on where it came from.
    const std::string key =
        endpoint.address.empty() ? "source:" + DottedQuadOf(sourceAddress) : endpoint.address;
    int index = Find(key);
    if (index < 0) {
        if (m_devices.size() >= kMaxDevices) {
            return -1;
        }
        index = static_cast<int>(m_devices.size());
        m_devices.emplace_back();
        m_devices.back().endpoint = key;
        m_index.emplace(key, index);
    }
    OnvifDevice& device = m_devices[static_cast<std::size_t>(index)];
    AddUnique(device.types, endpoint.types);
    AddUnique(device.scopes, endpoint.scopes);
    AddUnique(device.xaddrs, endpoint.xaddrs);
    device.scopeValues = ReadOnvifScopes(device.scopes);
    if (sourceAddress != 0) {
        device.sourceAddress = sourceAddress;
    }
    if (arrivalInterface != 0) {
        device.arrivalInterface = arrivalInterface;
    }
    ++device.answers;
    ChooseAddresses(device);
    return index;
}

void OnvifDeviceSet::ChooseAddresses(OnvifDevice& device) const {
    std::uint32_t network = 0;
    std::uint32_t netmask = 0;
    for (const Ipv4Interface& host : m_interfaces) {
        if (host.index == device.arrivalInterface && device.arrivalInterface != 0) {
            network = ParseQuad(host.address);
            netmask = ParseQuad(host.netmask);
            break;
        }
    }
    std::uint32_t first = 0;
    std::uint32_t onInterface = 0;
    std::string mac;
    for (const std::string& xaddr : device.xaddrs) {
        const std::optional<UrlHost> host = HostOfUrl(xaddr);
        if (!host) {
            continue;
        }
        if (host->ipv6) {
            if (mac.empty()) {
                mac = MacOfEui64LinkLocal(host->host).value_or("");
            }
            continue;
        }
        if (!host->ipv4 || !UsableIpv4(*host->ipv4)) {
            continue;
        }
        if (first == 0) {
            first = *host->ipv4;
        }
        if (onInterface == 0 && netmask != 0 && (*host->ipv4 & netmask) == (network & netmask)) {
            onInterface = *host->ipv4;
        }
    }
    std::uint32_t chosen = onInterface != 0 ? onInterface : first;
    if (chosen == 0 && UsableIpv4(device.sourceAddress)) {
        chosen = device.sourceAddress;
    }
    device.ip = chosen != 0 ? DottedQuadOf(chosen) : std::string();
    if (!mac.empty()) {
        device.mac = mac;
    }
}

std::optional<OnvifSighting> ReadAnnouncement(std::string_view datagram,
                                              std::uint32_t sourceAddress,
                                              std::uint32_t arrivalInterface,
                                              const std::vector<Ipv4Interface>& interfaces) {
    if (datagram.size() > kMaxXmlBytes) {
        return std::nullopt;
    }
    const std::optional<WsdMessage> message = ReadWsdMessage(datagram);
    if (!message || message->endpoints.empty()) {
        return std::nullopt;
    }
    const WsdEndpoint& endpoint = message->endpoints.front();
    OnvifSighting sighting;
    if (message->kind == WsdKind::Bye) {
        // A Bye names the device by its address alone: without one it
        // cannot be matched with anything listed.
        if (endpoint.address.empty()) {
            return std::nullopt;
        }
        sighting.kind = OnvifSightingKind::Bye;
        sighting.device.endpoint = endpoint.address;
        return sighting;
    }
    if (message->kind != WsdKind::Hello || !IsOnvifEndpoint(endpoint)) {
        return std::nullopt;
    }
    // The same reading as an answer to a probe, from this one message.
    OnvifDeviceSet one;
    one.SetHostInterfaces(interfaces);
    if (one.Merge(endpoint, sourceAddress, arrivalInterface) < 0) {
        return std::nullopt;
    }
    sighting.kind = OnvifSightingKind::Hello;
    sighting.device = one.Devices().front();
    return sighting;
}

}  // namespace qdipc
