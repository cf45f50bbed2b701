#pragma once
// WS-Discovery as ONVIF devices speak it (SOAP 1.2 over UDP, the 2005/04
// discovery namespace): the Probe the tool multicasts, the messages devices
// send back or announce (ProbeMatches, Hello, Bye) read by namespace URI, and
// what their Scopes and XAddrs say about a device. Toolkit-free; no sockets.

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace qdipc {

// Where devices listen for Probes and announce themselves.
inline constexpr const char* kWsdMulticastGroup = "239.255.255.250";
inline constexpr std::uint16_t kWsdPort = 3702;

inline constexpr const char* kSoap12Namespace = "http://www.w3.org/2003/05/soap-envelope";
inline constexpr const char* kWsdNamespace = "http://schemas.xmlsoap.org/ws/2005/04/discovery";
inline constexpr const char* kAddressingNamespace =
    "http://schemas.xmlsoap.org/ws/2004/08/addressing";
inline constexpr const char* kOnvifNetworkNamespace = "http://www.onvif.org/ver10/network/wsdl";
inline constexpr const char* kOnvifDeviceNamespace = "http://www.onvif.org/ver10/device/wsdl";

// The two device types the tool probes for: dn:NetworkVideoTransmitter and
// tds:Device (devices differ in which they answer).
enum class ProbeType { NetworkVideoTransmitter, Device };

// A fresh random "urn:uuid:" of version 4, lower case.
std::string NewUuidUrn(std::mt19937_64& random);

// One Probe for type with this MessageID, UTF-8 XML.
std::string ProbeMessage(ProbeType type, std::string_view messageId);

// When the four sends of one Probe go, counted from the first: a first gap
// drawn from 50-250 ms, each next gap twice the last, at most 500 ms.
// drawFirstGap gives a number of milliseconds; it is clamped to 50-250.
using GapDraw = std::function<int()>;
std::array<std::chrono::milliseconds, 4> ProbeSendOffsets(const GapDraw& drawFirstGap);

// A qualified name, namespace URI and local name.
struct XmlQName {
    std::string ns;
    std::string local;
    bool operator==(const XmlQName&) const = default;
};

enum class WsdKind { Other, ProbeMatches, Hello, Bye };

// What one device says of itself in a ProbeMatch, a Hello or a Bye.
struct WsdEndpoint {
    std::string address;          // the EndpointReference's Address, a stable identity
    std::vector<XmlQName> types;  // prefixes resolved; an unknown prefix leaves ns empty
    std::vector<std::string> scopes;
    std::vector<std::string> xaddrs;
    std::uint32_t metadataVersion = 0;
};

struct WsdMessage {
    WsdKind kind = WsdKind::Other;
    std::string action;
    std::string messageId;
    std::string relatesTo;
    std::vector<WsdEndpoint> endpoints;  // ProbeMatches: each ProbeMatch; Hello, Bye: one
};

// At most this many ProbeMatch elements, and scopes or XAddrs of one device,
// are read from one message; the rest are ignored.
inline constexpr std::size_t kMaxWsdEndpoints = 64;
inline constexpr std::size_t kMaxWsdListItems = 32;

// Reads one datagram. Nothing when it is not well-formed XML, too large or
// too deep, or not a SOAP envelope (1.2, or 1.1 as some devices send).
std::optional<WsdMessage> ReadWsdMessage(std::string_view datagram);

// Whether a type list holds the given probe type.
bool HasProbeType(const std::vector<XmlQName>& types, ProbeType type);

// Whether a Hello or ProbeMatch is an ONVIF device's: its Types name
// dn:NetworkVideoTransmitter or tds:Device, or one of its Scopes is an
// onvif://www.onvif.org/ scope (some devices announce without Types).
// Printers and computers announce on the same group and are not.
bool IsOnvifEndpoint(const WsdEndpoint& endpoint);

// What the onvif://www.onvif.org/ scopes say: the name, the hardware and the
// location (several location scopes joined by " / "), percent-decoded.
struct OnvifScopeValues {
    std::string name;
    std::string hardware;
    std::string location;
};
OnvifScopeValues ReadOnvifScopes(const std::vector<std::string>& scopes);

// %XX sequences decoded; a malformed one is kept as it is.
std::string PercentDecode(std::string_view text);

// The host of a URL ("http://10.0.0.5:80/onvif/device_service" -> 10.0.0.5,
// "http://[fe80::1]/x" -> fe80::1), and what kind of address it is.
struct UrlHost {
    std::string host;
    bool ipv6 = false;
    std::optional<std::uint32_t> ipv4;  // host order, when the host is a dotted quad
};
std::optional<UrlHost> HostOfUrl(std::string_view url);

// An IPv4 address usable in the IP cell: not 0.0.0.0, loopback, link-local
// (169.254/16), multicast or broadcast.
bool UsableIpv4(std::uint32_t address);

// The MAC an IPv6 link-local address of EUI-64 form carries
// ("fe80::211:22ff:fe33:4455" -> "00:11:22:33:44:55"), lower case as the MAC cell.
std::optional<std::string> MacOfEui64LinkLocal(std::string_view ipv6);

}  // namespace qdipc
