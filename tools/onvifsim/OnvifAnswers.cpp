#include "OnvifAnswers.h"

#include <cstdio>
#include <cstdlib>

namespace onvifsim {
namespace {

constexpr const char* kSoap12 = "http://www.w3.org/2003/05/soap-envelope";
constexpr const char* kSoap11 = "http://schemas.xmlsoap.org/soap/envelope/";
constexpr const char* kAddr2004 = "http://schemas.xmlsoap.org/ws/2004/08/addressing";
constexpr const char* kAddr2005 = "http://www.w3.org/2005/08/addressing";
constexpr const char* kWsd = "http://schemas.xmlsoap.org/ws/2005/04/discovery";
constexpr const char* kDn = "http://www.onvif.org/ver10/network/wsdl";
constexpr const char* kTds = "http://www.onvif.org/ver10/device/wsdl";

const std::vector<Variant> kVariants = {
    {"plain", "s:, a:, d: prefixes, both types, one http XAddr"},
    {"soap-env", "SOAP-ENV:, wsa:, wsdd: prefixes (gSOAP-made firmware)"},
    {"env-tns", "env:, wsa:, tns: prefixes"},
    {"default-ns", "no prefixes: default namespaces declared on each element"},
    {"no-types", "no Types element; answers either probe"},
    {"nvt-only", "Types dn:NetworkVideoTransmitter only; answers only that probe"},
    {"device-only", "Types tds:Device only; answers only that probe"},
    {"odd-type-prefix", "types under prefixes of its own (ns1:, ns2:)"},
    {"many-xaddrs", "http, https and IPv6 XAddrs"},
    {"link-local-first", "a 169.254 XAddr before the real one"},
    {"eui64-xaddr", "an IPv6 link-local XAddr made from its MAC"},
    {"ipv6-only", "only an IPv6 XAddr: the IP comes from the datagram's source"},
    {"wrong-relates-to", "RelatesTo names a probe nobody sent"},
    {"percent-scopes", "percent-encoded name, two location scopes"},
    {"soap11", "a SOAP 1.1 envelope"},
    {"addressing-2005", "the W3C 2005/08 addressing namespace"},
    {"entities-cdata", "the scopes in a CDATA section, &amp; in an XAddr"},
    {"pretty", "indented, with comments and white space around every list"},
    {"https-only", "one https XAddr on port 443"},
    {"no-name", "no name scope; hardware only"},
    {"extra-headers", "AppSequence, mustUnderstand and unknown header elements"},
    {"two-matches", "two ProbeMatch elements: itself and a second endpoint"},
    {"uppercase-scope-host", "scopes under ONVIF://www.onvif.org/ in other case"},
};

// Its EUI-64 IPv6 link-local address.
std::string LinkLocalOf(const std::string& mac) {
    unsigned b[6] = {};
    if (std::sscanf(mac.c_str(), "%x:%x:%x:%x:%x:%x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]) !=
        6) {
        return "fe80::1";
    }
    char text[64];
    std::snprintf(text, sizeof text, "fe80::%x:%xff:fe%02x:%x", ((b[0] ^ 2u) << 8) | b[1], b[2],
                  b[3], (b[4] << 8) | b[5]);
    return text;
}

std::string Encode(const std::string& text) {
    std::string out;
    for (const unsigned char c : text) {
        if (c == ' ' || c == '#' || c == '%' || c == '/' || c >= 0x80) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

std::string Between(std::string_view text, std::string_view open, std::string_view close) {
    const std::size_t start = text.find(open);
    if (start == std::string_view::npos) {
        return {};
    }
    const std::size_t begin = text.find('>', start + open.size());
    if (begin == std::string_view::npos) {
        return {};
    }
    const std::size_t end = text.find(close, begin);
    if (end == std::string_view::npos) {
        return {};
    }
    return std::string(text.substr(begin + 1, end - begin - 1));
}

// One message of a variant: the envelope around a body, prefixes and
// namespaces as the variant has them.
struct Shape {
    std::string env = "s", envNs = kSoap12;
    std::string wsa = "a", wsaNs = kAddr2004;
    std::string wsd = "d", wsdNs = kWsd;
    bool defaultNs = false;
    std::string typesDecl = std::string(" xmlns:dn=\"") + kDn + "\" xmlns:tds=\"" + kTds + "\"";
    std::string types = "dn:NetworkVideoTransmitter tds:Device";
    bool hasTypes = true;
    std::string xaddrs;
    std::string scopes;
    std::string nl;  // between elements ("" or "\n  ")
    std::string extraHeader;
    std::string nameScope;
};

std::string Pre(const std::string& prefix) {
    return prefix.empty() ? std::string() : prefix + ":";
}

Shape ShapeOf(const SimDevice& device, int variant) {
    Shape shape;
    const std::string http = "http://" + device.ip + "/onvif/device_service";
    shape.xaddrs = http;
    shape.nameScope = "onvif://www.onvif.org/name/" + Encode(device.name);
    std::string hardwareScope = "onvif://www.onvif.org/hardware/" + Encode(device.hardware);
    std::string location = "onvif://www.onvif.org/location/country/china";
    const std::string name = kVariants[static_cast<std::size_t>(variant)].name;
    if (name == "soap-env") {
        shape.env = "SOAP-ENV";
        shape.wsa = "wsa";
        shape.wsd = "wsdd";
    } else if (name == "env-tns") {
        shape.env = "env";
        shape.wsa = "wsa";
        shape.wsd = "tns";
    } else if (name == "default-ns") {
        shape.defaultNs = true;
    } else if (name == "no-types") {
        shape.hasTypes = false;
    } else if (name == "nvt-only") {
        shape.types = "dn:NetworkVideoTransmitter";
    } else if (name == "device-only") {
        shape.types = "tds:Device";
    } else if (name == "odd-type-prefix") {
        shape.typesDecl = std::string(" xmlns:ns1=\"") + kDn + "\" xmlns:ns2=\"" + kTds + "\"";
        shape.types = "ns1:NetworkVideoTransmitter ns2:Device";
    } else if (name == "many-xaddrs") {
        shape.xaddrs = http + " https://" + device.ip + ":443/onvif/device_service" +
                       " http://[2001:db8::5]/onvif/device_service";
    } else if (name == "link-local-first") {
        shape.xaddrs = "http://169.254.10.20/onvif/device_service " + http;
    } else if (name == "eui64-xaddr") {
        shape.xaddrs = http + " http://[" + LinkLocalOf(device.mac) + "]/onvif/device_service";
    } else if (name == "ipv6-only") {
        shape.xaddrs = "http://[" + LinkLocalOf(device.mac) + "]/onvif/device_service";
    } else if (name == "percent-scopes") {
        location =
            "onvif://www.onvif.org/location/building%20A onvif://www.onvif.org/location/"
            "floor%202";
    } else if (name == "soap11") {
        shape.envNs = kSoap11;
    } else if (name == "addressing-2005") {
        shape.wsaNs = kAddr2005;
    } else if (name == "entities-cdata") {
        shape.xaddrs = http + "?a=1&amp;b=2";
    } else if (name == "pretty") {
        shape.nl = "\n  <!-- a device's own remark -->\n  ";
        shape.xaddrs = "\n\t" + http + "\n";
    } else if (name == "https-only") {
        shape.xaddrs = "https://" + device.ip + ":443/onvif/device_service";
    } else if (name == "no-name") {
        shape.nameScope.clear();
    } else if (name == "extra-headers") {
        shape.extraHeader =
            "<d:AppSequence InstanceId=\"7\" MessageNumber=\"1\"/>"
            "<x:Vendor xmlns:x=\"urn:example:vendor\" " +
            Pre(shape.env) + "mustUnderstand=\"0\">v</x:Vendor>";
    } else if (name == "uppercase-scope-host") {
        shape.nameScope = "ONVIF://www.onvif.org/name/" + Encode(device.name);
        hardwareScope = "ONVIF://www.onvif.org/hardware/" + Encode(device.hardware);
    }
    shape.scopes = "onvif://www.onvif.org/type/video_encoder " + location + " " + hardwareScope;
    if (!shape.nameScope.empty()) {
        shape.scopes += " " + shape.nameScope;
    }
    if (name == "pretty") {
        shape.scopes = "\n   " + shape.scopes + "\n  ";
    }
    return shape;
}

// An element of the discovery namespace, with or without its prefix.
std::string D(const Shape& s, const std::string& local, const std::string& content,
              const std::string& attributes = "") {
    if (s.defaultNs) {
        return "<" + local + " xmlns=\"" + s.wsdNs + "\"" + attributes + ">" + content + "</" +
               local + ">";
    }
    return "<" + Pre(s.wsd) + local + attributes + ">" + content + "</" + Pre(s.wsd) + local + ">";
}

std::string A(const Shape& s, const std::string& local, const std::string& content) {
    if (s.defaultNs) {
        return "<" + local + " xmlns=\"" + s.wsaNs + "\">" + content + "</" + local + ">";
    }
    return "<" + Pre(s.wsa) + local + ">" + content + "</" + Pre(s.wsa) + local + ">";
}

std::string EndpointBody(const Shape& s, const SimDevice& device, int variant,
                         const std::string& endpoint) {
    std::string body = s.nl + A(s, "EndpointReference", A(s, "Address", endpoint));
    if (s.hasTypes) {
        body += s.nl + D(s, "Types", s.types, s.typesDecl);
    }
    std::string scopes = s.scopes;
    if (std::string(kVariants[static_cast<std::size_t>(variant)].name) == "entities-cdata") {
        scopes = "<![CDATA[" + s.scopes + "]]>";
    }
    body += s.nl + D(s, "Scopes", scopes);
    body += s.nl + D(s, "XAddrs", s.xaddrs);
    body += s.nl + D(s, "MetadataVersion", "1");
    (void)device;
    return body;
}

std::string Envelope(const Shape& s, const std::string& action, int messageNumber,
                     const std::string& relatesTo, const std::string& body) {
    char id[64];
    std::snprintf(id, sizeof id, "urn:uuid:5a1e0000-0000-4000-8000-%012x", messageNumber);
    std::string header = A(s, "MessageID", id);
    if (!relatesTo.empty()) {
        header += s.nl + A(s, "RelatesTo", relatesTo);
    }
    header += s.nl + A(s, "To", "http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous");
    header += s.nl + A(s, "Action", action);
    header += s.extraHeader;
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
    if (s.defaultNs) {
        xml += "<Envelope xmlns=\"" + s.envNs + "\"><Header>" + header + "</Header><Body>" + body +
               "</Body></Envelope>";
        return xml;
    }
    xml += "<" + Pre(s.env) + "Envelope xmlns:" + s.env + "=\"" + s.envNs + "\" xmlns:" + s.wsa +
           "=\"" + s.wsaNs + "\" xmlns:" + s.wsd + "=\"" + s.wsdNs + "\">" + s.nl + "<" +
           Pre(s.env) + "Header>" + header + "</" + Pre(s.env) + "Header>" + s.nl + "<" +
           Pre(s.env) + "Body>" + body + "</" + Pre(s.env) + "Body></" + Pre(s.env) + "Envelope>";
    return xml;
}

}  // namespace

const std::vector<Variant>& Variants() {
    return kVariants;
}

int VariantByName(std::string_view name) {
    for (std::size_t i = 0; i < kVariants.size(); ++i) {
        if (name == kVariants[i].name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

ProbeSeen ReadProbe(std::string_view datagram) {
    ProbeSeen probe;
    if (datagram.find("Probe") == std::string_view::npos ||
        datagram.find("ProbeMatches") != std::string_view::npos) {
        return probe;
    }
    probe.messageId = Between(datagram, "MessageID", "</");
    const std::string types = Between(datagram, "Types", "</");
    probe.asksNvt = types.find("NetworkVideoTransmitter") != std::string::npos;
    probe.asksDevice = types.find(":Device") != std::string::npos || types == "Device";
    probe.valid = !probe.messageId.empty();
    return probe;
}

std::string ProbeMatchesText(const SimDevice& device, int variant, const ProbeSeen& probe,
                             int messageNumber) {
    const Shape s = ShapeOf(device, variant);
    const std::string name = kVariants[static_cast<std::size_t>(variant)].name;
    // A probe asking for a type the device does not list goes unanswered; one
    // without Types is answered by everyone.
    const bool listsNvt =
        !s.hasTypes || s.types.find("NetworkVideoTransmitter") != std::string::npos;
    const bool listsDevice = !s.hasTypes || s.types.find("Device") != std::string::npos;
    if ((probe.asksNvt && !listsNvt) || (probe.asksDevice && !listsDevice)) {
        return {};
    }
    std::string relatesTo = probe.messageId;
    if (name == "wrong-relates-to") {
        relatesTo = "urn:uuid:00000000-dead-4000-8000-000000000000";
    }
    std::string matches = D(s, "ProbeMatch", EndpointBody(s, device, variant, device.endpoint));
    if (name == "two-matches") {
        SimDevice second = device;
        second.name += " channel 2";
        matches +=
            D(s, "ProbeMatch",
              EndpointBody(ShapeOf(second, variant), second, variant, device.endpoint + "-2"));
    }
    return Envelope(s, "http://schemas.xmlsoap.org/ws/2005/04/discovery/ProbeMatches",
                    messageNumber, relatesTo, D(s, "ProbeMatches", matches));
}

std::string HelloText(const SimDevice& device, int variant, int messageNumber) {
    const Shape s = ShapeOf(device, variant);
    return Envelope(s, "http://schemas.xmlsoap.org/ws/2005/04/discovery/Hello", messageNumber, "",
                    D(s, "Hello", EndpointBody(s, device, variant, device.endpoint)));
}

std::string ByeText(const SimDevice& device, int variant, int messageNumber) {
    const Shape s = ShapeOf(device, variant);
    return Envelope(
        s, "http://schemas.xmlsoap.org/ws/2005/04/discovery/Bye", messageNumber, "",
        D(s, "Bye", s.nl + A(s, "EndpointReference", A(s, "Address", device.endpoint))));
}

}  // namespace onvifsim
