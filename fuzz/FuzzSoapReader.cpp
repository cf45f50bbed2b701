// Fuzzes the SOAP reader under the discovery messages and the device
// service's answers: any datagram or answer must read without going past its
// buffer, and what comes out (a message, a tree) stays within the bounds the
// reader promises; the scope, URL and link-local readers take whatever a
// device's lists hold; what a watch reads from the group is a Hello with a
// key or a Bye with an address.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "discovery/OnvifDevices.h"
#include "discovery/WsDiscovery.h"
#include "platform/SoapXmlTree.h"
#include "platform/XmlReader.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Counts the elements of a tree, requiring it no deeper than the bound.
std::size_t CountElements(const qdipc::XmlElement& element, int depth) {
    Require(depth <= qdipc::kMaxXmlDepth);
    std::size_t count = 1;
    for (const qdipc::XmlElement& child : element.children) {
        count += CountElements(child, depth + 1);
    }
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto heard = qdipc::ReadAnnouncement(text, 0x0A000063, 1, {})) {
        Require(!heard->device.endpoint.empty());
        Require(heard->kind == qdipc::OnvifSightingKind::Hello ||
                heard->kind == qdipc::OnvifSightingKind::Bye);
    }
    if (const auto root = qdipc::ParseSoapXml(text)) {
        Require(size <= qdipc::kMaxXmlDocument);
        Require(CountElements(*root, 1) <= qdipc::kMaxXmlElements);
    }
    const auto message = qdipc::ReadWsdMessage(text);
    Require(!message || size <= qdipc::kMaxXmlBytes);
    if (!message) {
        return 0;
    }
    Require(message->endpoints.size() <= qdipc::kMaxWsdEndpoints);
    for (const qdipc::WsdEndpoint& endpoint : message->endpoints) {
        Require(endpoint.scopes.size() <= qdipc::kMaxWsdListItems);
        Require(endpoint.xaddrs.size() <= qdipc::kMaxWsdListItems);
        Require(endpoint.types.size() <= qdipc::kMaxWsdListItems);
        qdipc::ReadOnvifScopes(endpoint.scopes);
        for (const std::string& xaddr : endpoint.xaddrs) {
            if (const auto host = qdipc::HostOfUrl(xaddr)) {
                Require(!host->host.empty());
                if (const auto mac = qdipc::MacOfEui64LinkLocal(host->host)) {
                    Require(mac->size() == 17);
                }
            }
        }
    }
    return 0;
}
