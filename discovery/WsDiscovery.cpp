#include "discovery/WsDiscovery.h"

#include <algorithm>
#include <cstdio>

#include "platform/XmlReader.h"

namespace qdipc {
namespace {

constexpr const char* kSoap11Namespace = "http://schemas.xmlsoap.org/soap/envelope/";
constexpr const char* kAddressing2005Namespace = "http://www.w3.org/2005/08/addressing";

bool IsAddressing(std::string_view ns) {
    return ns == kAddressingNamespace || ns == kAddressing2005Namespace;
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsSpace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsSpace(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// The white-space separated items of a list, at most kMaxWsdListItems.
std::vector<std::string> SplitList(std::string_view text) {
    std::vector<std::string> items;
    std::size_t i = 0;
    while (i < text.size() && items.size() < kMaxWsdListItems) {
        while (i < text.size() && IsSpace(text[i])) {
            ++i;
        }
        const std::size_t start = i;
        while (i < text.size() && !IsSpace(text[i])) {
            ++i;
        }
        if (i > start) {
            items.emplace_back(text.substr(start, i - start));
        }
    }
    return items;
}

// Where an element stands in a discovery message.
enum class Tag {
    Ignored,
    Envelope,
    Header,
    Body,
    Action,
    MessageId,
    RelatesTo,
    ProbeMatches,
    Endpoint,  // ProbeMatch, Hello or Bye
    EndpointReference,
    Address,
    Types,
    Scopes,
    XAddrs,
    MetadataVersion,
};

class WsdHandler final : public XmlHandler {
public:
    WsdMessage message;
    bool envelope = false;

    bool StartElement(std::string_view ns, std::string_view local,
                      const std::vector<XmlAttribute>& /*attributes*/) override {
        const Tag parent = stack_.empty() ? Tag::Ignored : stack_.back();
        Tag tag = Tag::Ignored;
        if (stack_.empty()) {
            if ((ns == kSoap12Namespace || ns == kSoap11Namespace) && local == "Envelope") {
                tag = Tag::Envelope;
                envelope = true;
                soapNs_ = std::string(ns);
            }
        } else if (parent == Tag::Envelope && ns == soapNs_) {
            tag = local == "Header" ? Tag::Header : local == "Body" ? Tag::Body : Tag::Ignored;
        } else if (parent == Tag::Header && IsAddressing(ns)) {
            tag = local == "Action"      ? Tag::Action
                  : local == "MessageID" ? Tag::MessageId
                  : local == "RelatesTo" ? Tag::RelatesTo
                                         : Tag::Ignored;
        } else if (parent == Tag::Body && ns == kWsdNamespace && !bodySeen_) {
            bodySeen_ = true;
            if (local == "ProbeMatches") {
                message.kind = WsdKind::ProbeMatches;
                tag = Tag::ProbeMatches;
            } else if (local == "Hello" || local == "Bye") {
                message.kind = local == "Hello" ? WsdKind::Hello : WsdKind::Bye;
                tag = BeginEndpoint();
            }
        } else if (parent == Tag::ProbeMatches && ns == kWsdNamespace && local == "ProbeMatch") {
            tag = BeginEndpoint();
        } else if (parent == Tag::Endpoint && IsAddressing(ns) && local == "EndpointReference") {
            tag = Tag::EndpointReference;
        } else if (parent == Tag::EndpointReference && IsAddressing(ns) && local == "Address") {
            tag = Tag::Address;
        } else if (parent == Tag::Endpoint && ns == kWsdNamespace) {
            tag = local == "Types"             ? Tag::Types
                  : local == "Scopes"          ? Tag::Scopes
                  : local == "XAddrs"          ? Tag::XAddrs
                  : local == "MetadataVersion" ? Tag::MetadataVersion
                                               : Tag::Ignored;
        }
        stack_.push_back(tag);
        text_.clear();
        return true;
    }

    void Text(std::string_view text) override {
        if (!stack_.empty() && stack_.back() != Tag::Ignored) {
            text_.append(text);
        }
    }

    void EndElement(const XmlScope& scope) override {
        if (stack_.empty()) {
            return;
        }
        const Tag tag = stack_.back();
        stack_.pop_back();
        const std::string_view value = Trim(text_);
        WsdEndpoint* endpoint = endpoint_ ? &message.endpoints.back() : nullptr;
        switch (tag) {
            case Tag::Action:
                message.action = value;
                break;
            case Tag::MessageId:
                message.messageId = value;
                break;
            case Tag::RelatesTo:
                message.relatesTo = value;
                break;
            case Tag::Address:
                if (endpoint != nullptr) {
                    endpoint->address = value;
                }
                break;
            case Tag::Types:
                if (endpoint != nullptr) {
                    for (const std::string& item : SplitList(value)) {
                        endpoint->types.push_back(Resolve(item, scope));
                    }
                }
                break;
            case Tag::Scopes:
                if (endpoint != nullptr) {
                    endpoint->scopes = SplitList(value);
                }
                break;
            case Tag::XAddrs:
                if (endpoint != nullptr) {
                    endpoint->xaddrs = SplitList(value);
                }
                break;
            case Tag::MetadataVersion:
                if (endpoint != nullptr) {
                    unsigned long number = 0;
                    if (std::sscanf(std::string(value).c_str(), "%lu", &number) == 1) {
                        endpoint->metadataVersion = static_cast<std::uint32_t>(number);
                    }
                }
                break;
            case Tag::Endpoint:
                endpoint_ = false;
                break;
            default:
                break;
        }
        text_.clear();
    }

private:
    Tag BeginEndpoint() {
        if (message.endpoints.size() >= kMaxWsdEndpoints) {
            return Tag::Ignored;
        }
        message.endpoints.emplace_back();
        endpoint_ = true;
        return Tag::Endpoint;
    }

    static XmlQName Resolve(std::string_view qname, const XmlScope& scope) {
        const std::size_t colon = qname.find(':');
        const std::string_view prefix =
            colon == std::string_view::npos ? "" : qname.substr(0, colon);
        const std::string_view local =
            colon == std::string_view::npos ? qname : qname.substr(colon + 1);
        const std::optional<std::string> ns = scope.NamespaceOf(prefix);
        return {ns.value_or(std::string()), std::string(local)};
    }

    std::vector<Tag> stack_;
    std::string text_;
    std::string soapNs_;
    bool bodySeen_ = false;
    bool endpoint_ = false;
};

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::optional<std::uint32_t> ParseDottedQuad(std::string_view text) {
    std::uint32_t value = 0;
    int parts = 0;
    std::size_t i = 0;
    while (parts < 4) {
        std::uint32_t part = 0;
        std::size_t digits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4) {
            part = part * 10 + static_cast<std::uint32_t>(text[i] - '0');
            ++i;
            ++digits;
        }
        if (digits == 0 || digits > 3 || part > 255) {
            return std::nullopt;
        }
        value = (value << 8) | part;
        ++parts;
        if (parts < 4) {
            if (i >= text.size() || text[i] != '.') {
                return std::nullopt;
            }
            ++i;
        }
    }
    if (i != text.size()) {
        return std::nullopt;
    }
    return value;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char a = text[i];
        if (a >= 'A' && a <= 'Z') {
            a = static_cast<char>(a - 'A' + 'a');
        }
        if (a != prefix[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string NewUuidUrn(std::mt19937_64& random) {
    std::array<std::uint8_t, 16> bytes{};
    for (std::size_t i = 0; i < bytes.size(); i += 8) {
        const std::uint64_t word = random();
        for (std::size_t j = 0; j < 8; ++j) {
            bytes[i + j] = static_cast<std::uint8_t>(word >> (8 * j));
        }
    }
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // the RFC 4122 variant
    std::string text = "urn:uuid:";
    static constexpr char kHex[] = "0123456789abcdef";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            text.push_back('-');
        }
        text.push_back(kHex[bytes[i] >> 4]);
        text.push_back(kHex[bytes[i] & 0x0F]);
    }
    return text;
}

std::string ProbeMessage(ProbeType type, std::string_view messageId) {
    const bool nvt = type == ProbeType::NetworkVideoTransmitter;
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
        "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\""
        " xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\""
        " xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\"";
    xml += nvt ? " xmlns:dn=\"http://www.onvif.org/ver10/network/wsdl\""
               : " xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\"";
    xml +=
        "><s:Header>"
        "<a:Action s:mustUnderstand=\"1\">"
        "http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe</a:Action>"
        "<a:MessageID>";
    xml += messageId;
    xml +=
        "</a:MessageID>"
        "<a:ReplyTo><a:Address>"
        "http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous"
        "</a:Address></a:ReplyTo>"
        "<a:To s:mustUnderstand=\"1\">urn:schemas-xmlsoap-org:ws:2005:04:discovery</a:To>"
        "</s:Header><s:Body><d:Probe><d:Types>";
    xml += nvt ? "dn:NetworkVideoTransmitter" : "tds:Device";
    xml += "</d:Types></d:Probe></s:Body></s:Envelope>";
    return xml;
}

std::array<std::chrono::milliseconds, 4> ProbeSendOffsets(const GapDraw& drawFirstGap) {
    constexpr int kMinGap = 50;
    constexpr int kMaxFirstGap = 250;
    constexpr int kUpperGap = 500;
    int gap = std::clamp(drawFirstGap ? drawFirstGap() : kMinGap, kMinGap, kMaxFirstGap);
    std::array<std::chrono::milliseconds, 4> offsets{};
    int at = 0;
    for (std::size_t i = 1; i < offsets.size(); ++i) {
        at += gap;
        offsets[i] = std::chrono::milliseconds(at);
        gap = std::min(gap * 2, kUpperGap);
    }
    return offsets;
}

std::optional<WsdMessage> ReadWsdMessage(std::string_view datagram) {
    WsdHandler handler;
    if (!ReadXml(datagram, kMaxXmlBytes, handler) || !handler.envelope) {
        return std::nullopt;
    }
    return std::move(handler.message);
}

bool HasProbeType(const std::vector<XmlQName>& types, ProbeType type) {
    const XmlQName wanted = type == ProbeType::NetworkVideoTransmitter
                                ? XmlQName{kOnvifNetworkNamespace, "NetworkVideoTransmitter"}
                                : XmlQName{kOnvifDeviceNamespace, "Device"};
    return std::find(types.begin(), types.end(), wanted) != types.end();
}

bool IsOnvifEndpoint(const WsdEndpoint& endpoint) {
    if (HasProbeType(endpoint.types, ProbeType::NetworkVideoTransmitter) ||
        HasProbeType(endpoint.types, ProbeType::Device)) {
        return true;
    }
    return std::any_of(
        endpoint.scopes.begin(), endpoint.scopes.end(),
        [](const std::string& scope) { return StartsWithNoCase(scope, "onvif://www.onvif.org/"); });
}

std::string PercentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
            HexValue(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

OnvifScopeValues ReadOnvifScopes(const std::vector<std::string>& scopes) {
    constexpr std::string_view kRoot = "onvif://www.onvif.org/";
    OnvifScopeValues values;
    for (const std::string& scope : scopes) {
        if (!StartsWithNoCase(scope, kRoot)) {
            continue;
        }
        const std::string_view rest = std::string_view(scope).substr(kRoot.size());
        const std::size_t slash = rest.find('/');
        if (slash == std::string_view::npos) {
            continue;
        }
        const std::string_view kind = rest.substr(0, slash);
        const std::string value = PercentDecode(rest.substr(slash + 1));
        if (value.empty()) {
            continue;
        }
        if (kind == "name" && values.name.empty()) {
            values.name = value;
        } else if (kind == "hardware" && values.hardware.empty()) {
            values.hardware = value;
        } else if (kind == "location") {
            values.location += values.location.empty() ? value : " / " + value;
        }
    }
    return values;
}

std::optional<UrlHost> HostOfUrl(std::string_view url) {
    const std::size_t scheme = url.find("://");
    if (scheme == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view rest = url.substr(scheme + 3);
    const std::size_t end = rest.find_first_of("/?#");
    rest = rest.substr(0, end);
    const std::size_t at = rest.rfind('@');
    if (at != std::string_view::npos) {
        rest = rest.substr(at + 1);
    }
    UrlHost host;
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        host.host = rest.substr(1, close - 1);
        host.ipv6 = true;
    } else {
        host.host = rest.substr(0, rest.find(':'));
        host.ipv4 = ParseDottedQuad(host.host);
    }
    if (host.host.empty()) {
        return std::nullopt;
    }
    return host;
}

bool UsableIpv4(std::uint32_t address) {
    const std::uint32_t first = address >> 24;
    return address != 0 && first != 127 && first < 224 && (address >> 16) != 0xA9FE;
}

std::optional<std::string> MacOfEui64LinkLocal(std::string_view ipv6) {
    // Expands "::" and reads the eight 16-bit groups.
    std::array<std::uint16_t, 8> groups{};
    const std::size_t zone = ipv6.find('%');
    ipv6 = ipv6.substr(0, zone);
    const std::size_t gap = ipv6.find("::");
    const auto parseGroups = [](std::string_view part, std::vector<std::uint16_t>& out) {
        if (part.empty()) {
            return true;
        }
        std::size_t start = 0;
        while (start <= part.size()) {
            const std::size_t colon = part.find(':', start);
            const std::string_view item = part.substr(
                start, colon == std::string_view::npos ? part.size() - start : colon - start);
            if (item.empty() || item.size() > 4) {
                return false;
            }
            std::uint16_t value = 0;
            for (const char c : item) {
                const int digit = HexValue(c);
                if (digit < 0) {
                    return false;
                }
                value = static_cast<std::uint16_t>(value * 16 + digit);
            }
            out.push_back(value);
            if (colon == std::string_view::npos) {
                break;
            }
            start = colon + 1;
        }
        return true;
    };
    std::vector<std::uint16_t> head;
    std::vector<std::uint16_t> tail;
    if (gap == std::string_view::npos) {
        if (!parseGroups(ipv6, head) || head.size() != 8) {
            return std::nullopt;
        }
    } else {
        if (!parseGroups(ipv6.substr(0, gap), head) || !parseGroups(ipv6.substr(gap + 2), tail) ||
            head.size() + tail.size() > 7) {
            return std::nullopt;
        }
    }
    std::copy(head.begin(), head.end(), groups.begin());
    std::copy(tail.begin(), tail.end(), groups.end() - static_cast<std::ptrdiff_t>(tail.size()));
    if ((groups[0] & 0xFFC0) != 0xFE80 || groups[1] != 0 || groups[2] != 0 || groups[3] != 0) {
        return std::nullopt;
    }
    // ff:fe in the middle of the interface ID marks an EUI-64 made from a MAC;
    // its universal/local bit is inverted.
    if ((groups[5] & 0xFF) != 0xFF || (groups[6] >> 8) != 0xFE) {
        return std::nullopt;
    }
    const std::array<unsigned, 6> mac = {
        static_cast<unsigned>((groups[4] >> 8) ^ 0x02), static_cast<unsigned>(groups[4] & 0xFF),
        static_cast<unsigned>(groups[5] >> 8),          static_cast<unsigned>(groups[6] & 0xFF),
        static_cast<unsigned>(groups[7] >> 8),          static_cast<unsigned>(groups[7] & 0xFF)};
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return std::string(text);
}

}  // namespace qdipc
