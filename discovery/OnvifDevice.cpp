#include "discovery/OnvifDevice.h"

#include <algorithm>
#include <array>

#include "discovery/DeviceCodecs.h"
#include "platform/Crypto.h"

namespace qdipc {
namespace {

using namespace std::chrono;

// A text a device sends is kept to this many bytes.
constexpr std::size_t kMaxFactText = 256;
constexpr std::size_t kMaxInterfaces = 16;
constexpr std::size_t kNonceBytes = 16;

constexpr std::string_view kDigestType =
    "http://docs.oasis-open.org/wss/2004/01/"
    "oasis-200401-wss-username-token-profile-1.0#PasswordDigest";
constexpr std::string_view kBase64Type =
    "http://docs.oasis-open.org/wss/2004/01/"
    "oasis-200401-wss-soap-message-security-1.0#Base64Binary";

std::string Dotted(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

std::string XmlEscaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// A device's text without surrounding white space, cut to kMaxFactText.
std::string Fact(const XmlElement* element) {
    if (element == nullptr) {
        return {};
    }
    const std::string& text = element->text;
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, std::min(last + 1 - first, kMaxFactText));
}

std::optional<int> Number(const XmlElement* parent, std::string_view local, int low, int high) {
    const std::string text = parent ? Fact(parent->Child(soapns::kSchema, local)) : "";
    if (text.empty() || text.size() > 4 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    const int value = std::stoi(text);
    if (value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

std::string Envelope(std::string_view header, std::string_view body) {
    std::string text;
    text += R"(<?xml version="1.0" encoding="UTF-8"?>)";
    text += R"(<s:Envelope xmlns:s="http://www.w3.org/2003/05/soap-envelope")";
    text += R"( xmlns:tds="http://www.onvif.org/ver10/device/wsdl")";
    text += R"( xmlns:trt="http://www.onvif.org/ver10/media/wsdl")";
    text += R"( xmlns:tt="http://www.onvif.org/ver10/schema">)";
    if (!header.empty()) {
        text += "<s:Header>";
        text += header;
        text += "</s:Header>";
    }
    text += "<s:Body>";
    text += body;
    text += "</s:Body></s:Envelope>";
    return text;
}

// "ter:NotAuthorized" or "NotAuthorized": the QName's local part.
bool IsNotAuthorized(std::string_view qname) {
    const auto colon = qname.rfind(':');
    const std::string_view local =
        colon == std::string_view::npos ? qname : qname.substr(colon + 1);
    return local == "NotAuthorized";
}

}  // namespace

std::optional<OnvifTarget> ParseOnvifTarget(std::string_view text, std::string* error) {
    const auto fail = [&](std::string why) -> std::optional<OnvifTarget> {
        if (error != nullptr) {
            *error = std::move(why);
        }
        return std::nullopt;
    };
    OnvifTarget target;
    std::string_view rest = text;
    const bool url = rest.rfind("http://", 0) == 0;
    if (url) {
        rest.remove_prefix(7);
        const auto slash = rest.find('/');
        if (slash != std::string_view::npos) {
            const std::string_view path = rest.substr(slash);
            if (path.size() > 1) {
                if (path.size() > 512 || std::any_of(path.begin(), path.end(), [](char c) {
                        return static_cast<unsigned char>(c) <= 0x20 || c == 0x7F || c == '#';
                    })) {
                    return fail("the service path is not a plain path");
                }
                target.path = std::string(path);
            }
            rest = rest.substr(0, slash);
        }
    }
    const auto colon = rest.find(':');
    const std::string_view host = rest.substr(0, colon);
    const auto address = ParseIpv4Strict(host);
    if (!address) {
        return fail("not a dotted-quad IPv4 address");
    }
    target.address = *address;
    if (colon != std::string_view::npos) {
        const std::string_view port = rest.substr(colon + 1);
        if (port.empty() || port.size() > 5 ||
            !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
            port[0] == '0') {
            return fail("not a port number");
        }
        const int value = std::stoi(std::string(port));
        if (value > 65535) {
            return fail("not a port number");
        }
        target.port = static_cast<std::uint16_t>(value);
    }
    return target;
}

std::string AddressText(const OnvifTarget& target) {
    return Dotted(target.address);
}

std::string PasswordDigest(std::string_view nonce, std::string_view created,
                           std::string_view password) {
    std::string joined;
    joined.reserve(nonce.size() + created.size() + password.size());
    joined.append(nonce).append(created).append(password);
    const auto digest = Sha1(joined);
    return Base64Encode(
        std::string_view(reinterpret_cast<const char*>(digest.data()), digest.size()));
}

std::string UtcText(system_clock::time_point time) {
    const auto seconds = floor<std::chrono::seconds>(time);
    const auto day = floor<days>(seconds);
    const year_month_day date{day};
    const hh_mm_ss clock{seconds - day};
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%04d-%02u-%02uT%02d:%02d:%02dZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()),
                  static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()));
    return text.data();
}

std::string UsernameTokenHeader(const OnvifLogin& login, std::string_view nonce,
                                std::string_view created) {
    std::string text;
    text += R"(<wsse:Security s:mustUnderstand="1" xmlns:wsse=")";
    text += soapns::kSecurity;
    text += R"(" xmlns:wsu=")";
    text += soapns::kUtility;
    text += R"("><wsse:UsernameToken><wsse:Username>)";
    text += XmlEscaped(login.user);
    text += R"(</wsse:Username><wsse:Password Type=")";
    text += kDigestType;
    text += R"(">)";
    text += PasswordDigest(nonce, created, login.password);
    text += R"(</wsse:Password><wsse:Nonce EncodingType=")";
    text += kBase64Type;
    text += R"(">)";
    text += Base64Encode(nonce);
    text += "</wsse:Nonce><wsu:Created>";
    text += created;
    text += "</wsu:Created></wsse:UsernameToken></wsse:Security>";
    return text;
}

SoapReply ReadSoapReply(const HttpResponse& response, bool loginSent) {
    SoapReply reply;
    const auto refused = [&](std::string why) {
        reply.status = loginSent ? OnvifStatus::Refused : OnvifStatus::NeedsLogin;
        reply.reason = loginSent ? "the device refused the user name and password"
                                 : "the device asks for a user name and password";
        if (!why.empty()) {
            reply.reason += " (" + why + ")";
        }
        return reply;
    };
    if (response.outcome != HttpOutcome::Answered) {
        reply.status = OnvifStatus::Unreachable;
        reply.reason = response.error;
        return reply;
    }
    if (response.status == 401) {
        return refused("");
    }
    std::string error;
    const std::optional<XmlElement> root = ParseSoapXml(response.body, &error);
    const bool envelope = root && root->local == "Envelope" &&
                          (root->ns == soapns::kEnvelope12 || root->ns == soapns::kEnvelope11);
    const XmlElement* body = envelope ? root->Child(root->ns, "Body") : nullptr;
    if (body == nullptr) {
        reply.status = OnvifStatus::BadAnswer;
        reply.reason = "the device's answer (HTTP " + std::to_string(response.status) +
                       ") is not a SOAP message" + (error.empty() ? "" : ": " + error);
        return reply;
    }
    if (const XmlElement* fault = body->Child(root->ns, "Fault")) {
        // SOAP 1.2: Code/Value, Code/Subcode/Value (nested), Reason/Text;
        // SOAP 1.1: faultcode, faultstring.
        bool notAuthorized = false;
        for (const XmlElement* code = fault->Child(root->ns, "Code"); code != nullptr;
             code = code->Child(root->ns, "Subcode")) {
            notAuthorized = notAuthorized || IsNotAuthorized(Fact(code->Child(root->ns, "Value")));
        }
        notAuthorized = notAuthorized || IsNotAuthorized(Fact(fault->Child("", "faultcode")));
        std::string why = Fact(fault->Path({{root->ns, "Reason"}, {root->ns, "Text"}}));
        if (why.empty()) {
            why = Fact(fault->Child("", "faultstring"));
        }
        if (notAuthorized) {
            return refused(why);
        }
        reply.status = OnvifStatus::BadAnswer;
        reply.reason = "the device answered with a fault" + (why.empty() ? "" : ": " + why);
        return reply;
    }
    if (response.status != 200) {
        reply.status = OnvifStatus::BadAnswer;
        reply.reason = "the device answered HTTP " + std::to_string(response.status);
        return reply;
    }
    if (body->children.empty()) {
        reply.status = OnvifStatus::BadAnswer;
        reply.reason = "the device's answer is empty";
        return reply;
    }
    reply.status = OnvifStatus::Ok;
    reply.body = body->children.front();
    return reply;
}

std::optional<system_clock::time_point> ParseDeviceUtcTime(const XmlElement& reply) {
    const XmlElement* utc =
        reply.Path({{soapns::kDevice, "SystemDateAndTime"}, {soapns::kSchema, "UTCDateTime"}});
    if (utc == nullptr) {
        return std::nullopt;
    }
    const XmlElement* date = utc->Child(soapns::kSchema, "Date");
    const XmlElement* time = utc->Child(soapns::kSchema, "Time");
    const auto y = Number(date, "Year", 1970, 9999);
    const auto mo = Number(date, "Month", 1, 12);
    const auto d = Number(date, "Day", 1, 31);
    const auto h = Number(time, "Hour", 0, 23);
    const auto mi = Number(time, "Minute", 0, 59);
    const auto s = Number(time, "Second", 0, 60);
    if (!y || !mo || !d || !h || !mi || !s) {
        return std::nullopt;
    }
    const year_month_day ymd{year{*y}, month{static_cast<unsigned>(*mo)},
                             day{static_cast<unsigned>(*d)}};
    if (!ymd.ok()) {
        return std::nullopt;
    }
    return sys_days{ymd} + hours{*h} + minutes{*mi} + seconds{*s};
}

void ParseDeviceInformation(const XmlElement& reply, OnvifDetails& details) {
    details.manufacturer = Fact(reply.Child(soapns::kDevice, "Manufacturer"));
    details.model = Fact(reply.Child(soapns::kDevice, "Model"));
    details.firmware = Fact(reply.Child(soapns::kDevice, "FirmwareVersion"));
    details.serial = Fact(reply.Child(soapns::kDevice, "SerialNumber"));
    details.hardwareId = Fact(reply.Child(soapns::kDevice, "HardwareId"));
}

std::vector<OnvifNetworkInterface> ParseNetworkInterfaces(const XmlElement& reply) {
    std::vector<OnvifNetworkInterface> found;
    for (const XmlElement* item : reply.Children(soapns::kDevice, "NetworkInterfaces")) {
        if (found.size() == kMaxInterfaces) {
            break;
        }
        OnvifNetworkInterface entry;
        const XmlElement* info = item->Child(soapns::kSchema, "Info");
        entry.name = Fact(info ? info->Child(soapns::kSchema, "Name") : nullptr);
        entry.mac = Fact(info ? info->Child(soapns::kSchema, "HwAddress") : nullptr);
        const XmlElement* dhcp = item->Path(
            {{soapns::kSchema, "IPv4"}, {soapns::kSchema, "Config"}, {soapns::kSchema, "DHCP"}});
        const std::string flag = Fact(dhcp);
        if (flag == "true" || flag == "1") {
            entry.dhcp = true;
        } else if (flag == "false" || flag == "0") {
            entry.dhcp = false;
        }
        found.push_back(std::move(entry));
    }
    return found;
}

std::vector<OnvifStream> ParseProfiles(const XmlElement& reply) {
    std::vector<OnvifStream> found;
    for (const XmlElement* profile : reply.Children(soapns::kMedia, "Profiles")) {
        if (found.size() == kMaxProfiles) {
            break;
        }
        OnvifStream stream;
        stream.profileToken = profile->Attribute("token").substr(0, kMaxFactText);
        stream.profileName = Fact(profile->Child(soapns::kSchema, "Name"));
        if (!stream.profileToken.empty()) {
            found.push_back(std::move(stream));
        }
    }
    return found;
}

std::string ParseStreamUri(const XmlElement& reply) {
    const XmlElement* uri = reply.Path({{soapns::kMedia, "MediaUri"}, {soapns::kSchema, "Uri"}});
    const std::string text = Fact(uri);
    // A location is one line of printable ASCII.
    if (std::any_of(text.begin(), text.end(), [](char c) {
            return static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F;
        })) {
        return {};
    }
    return text;
}

bool IsStreamUriOf(std::string_view uri, std::uint32_t address, std::string* reason) {
    const auto fail = [&](std::string why) {
        if (reason != nullptr) {
            *reason = std::move(why);
        }
        return false;
    };
    if (uri.rfind("rtsp://", 0) != 0) {
        return fail("the device gives no RTSP location");
    }
    const std::string_view rest = uri.substr(7);
    const std::string_view authority = rest.substr(0, rest.find('/'));
    const auto colon = authority.find(':');
    const std::string_view host = authority.substr(0, colon);
    const auto parsed = ParseIpv4Strict(host);
    if (!parsed || *parsed != address) {
        return fail("the device's stream location names another host than " + Dotted(address));
    }
    if (colon != std::string_view::npos) {
        const std::string_view port = authority.substr(colon + 1);
        if (port.empty() || port.size() > 5 ||
            !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            return fail("the device's stream location has no valid port");
        }
    }
    return true;
}

OnvifDeviceClient::OnvifDeviceClient(OnvifTarget target, HttpPoster post, WallClock now)
    : m_target(std::move(target)), m_post(std::move(post)), m_now(std::move(now)) {}

SoapReply OnvifDeviceClient::Call(std::string_view ns, std::string_view action,
                                  const std::string& body, bool withLogin) {
    const bool login = withLogin && m_login.has_value();
    std::string header;
    if (login) {
        std::array<std::uint8_t, kNonceBytes> nonce{};
        if (!RandomBytes(nonce.data(), nonce.size())) {
            SoapReply failed;
            failed.reason = "no random numbers for the login";
            return failed;
        }
        // The device checks the token's time against its own clock.
        const auto deviceNow = m_now() + m_offset.value_or(seconds{0});
        header = UsernameTokenHeader(
            *m_login, std::string_view(reinterpret_cast<const char*>(nonce.data()), nonce.size()),
            UtcText(deviceNow));
    }
    HttpRequest request;
    request.address = m_target.address;
    request.port = m_target.port;
    request.path = m_target.path;
    request.headers.emplace_back("Content-Type", "application/soap+xml; charset=utf-8; action=\"" +
                                                     std::string(ns) + "/" + std::string(action) +
                                                     "\"");
    request.body = Envelope(header, body);
    if (login) {
        request.user = m_login->user;
        request.password = m_login->password;
    }
    return ReadSoapReply(m_post(request), login);
}

bool OnvifDeviceClient::LearnClock(SoapReply& reply) {
    reply = Call(soapns::kDevice, "GetSystemDateAndTime", "<tds:GetSystemDateAndTime/>", false);
    if (reply.status == OnvifStatus::Unreachable) {
        return false;
    }
    // Some devices want a login even for their clock; the offset then stays
    // unknown and the token carries this PC's time.
    if (reply.status == OnvifStatus::Ok && reply.body) {
        if (const auto deviceTime = ParseDeviceUtcTime(*reply.body)) {
            m_offset = duration_cast<seconds>(*deviceTime - m_now());
        }
    }
    return true;
}

std::vector<OnvifStream> OnvifDeviceClient::QueryStreams(SoapReply& failure, bool firstOnly) {
    SoapReply profiles = Call(soapns::kMedia, "GetProfiles", "<trt:GetProfiles/>", true);
    if (profiles.status != OnvifStatus::Ok) {
        failure = std::move(profiles);
        return {};
    }
    std::vector<OnvifStream> streams = ParseProfiles(*profiles.body);
    for (OnvifStream& stream : streams) {
        const std::string body =
            "<trt:GetStreamUri><trt:StreamSetup><tt:Stream>RTP-Unicast</tt:Stream>"
            "<tt:Transport><tt:Protocol>RTSP</tt:Protocol></tt:Transport></trt:StreamSetup>"
            "<trt:ProfileToken>" +
            XmlEscaped(stream.profileToken) + "</trt:ProfileToken></trt:GetStreamUri>";
        SoapReply uri = Call(soapns::kMedia, "GetStreamUri", body, true);
        if (uri.status == OnvifStatus::Unreachable || uri.status == OnvifStatus::Refused ||
            uri.status == OnvifStatus::NeedsLogin) {
            failure = std::move(uri);
            return streams;
        }
        if (uri.status == OnvifStatus::Ok) {
            stream.uri = ParseStreamUri(*uri.body);
        }
        if (firstOnly && !stream.uri.empty()) {
            break;
        }
    }
    failure.status = OnvifStatus::Ok;
    return streams;
}

OnvifDetails OnvifDeviceClient::QueryDetails() {
    OnvifDetails details;
    const auto stop = [&](SoapReply& reply) {
        details.status = reply.status;
        details.reason = reply.reason;
        details.clockOffset = m_offset;
        return details;
    };
    SoapReply reply;
    if (!LearnClock(reply)) {
        return stop(reply);
    }
    details.clockOffset = m_offset;
    reply = Call(soapns::kDevice, "GetDeviceInformation", "<tds:GetDeviceInformation/>", true);
    if (reply.status != OnvifStatus::Ok) {
        return stop(reply);
    }
    ParseDeviceInformation(*reply.body, details);
    reply = Call(soapns::kDevice, "GetNetworkInterfaces", "<tds:GetNetworkInterfaces/>", true);
    if (reply.status == OnvifStatus::Ok) {
        details.interfaces = ParseNetworkInterfaces(*reply.body);
    } else if (reply.status != OnvifStatus::BadAnswer) {
        return stop(reply);
    }
    SoapReply failure;
    details.streams = QueryStreams(failure, false);
    if (failure.status != OnvifStatus::Ok && failure.status != OnvifStatus::BadAnswer) {
        return stop(failure);
    }
    details.status = OnvifStatus::Ok;
    return details;
}

OnvifDeviceClient::StreamAnswer OnvifDeviceClient::FirstRtspUri() {
    StreamAnswer answer;
    SoapReply reply;
    if (!LearnClock(reply)) {
        answer.status = reply.status;
        answer.reason = reply.reason;
        return answer;
    }
    SoapReply failure;
    const std::vector<OnvifStream> streams = QueryStreams(failure, true);
    if (failure.status != OnvifStatus::Ok) {
        answer.status = failure.status;
        answer.reason = failure.reason;
        return answer;
    }
    for (const OnvifStream& stream : streams) {
        if (stream.uri.empty()) {
            continue;
        }
        std::string why;
        if (!IsStreamUriOf(stream.uri, m_target.address, &why)) {
            answer.status = OnvifStatus::BadAnswer;
            answer.reason = why;
            return answer;
        }
        answer.status = OnvifStatus::Ok;
        answer.uri = stream.uri;
        return answer;
    }
    answer.status = OnvifStatus::BadAnswer;
    answer.reason = "the device gives no RTSP stream location";
    return answer;
}

}  // namespace qdipc
