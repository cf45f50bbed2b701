#pragma once
// The client of a networked video device's standard SOAP device service: the
// facts "Device Details…" and --details show, and the stream location the
// preview plays. Toolkit-free; HTTP goes through platform/HttpClient and the
// answers are read by namespace URI (platform/SoapXmlTree), never by prefix.
//
// Calls: GetSystemDateAndTime (no password: the device's clock and so its
// offset from this PC's), GetDeviceInformation, GetNetworkInterfaces,
// GetProfiles and GetStreamUri (RTP unicast over RTSP) per profile. With a
// login, every call but the first carries a WS-Security UsernameToken with a
// PasswordDigest made on the device's own clock (this PC's time plus the
// offset: a device refuses a token whose time is far from its own), and the
// same user name and password answer an HTTP digest challenge.
//
// Only a strict dotted-quad address is talked to, and a stream location is
// only given out when its host is that same address.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/HttpClient.h"
#include "platform/SoapXmlTree.h"

namespace qdipc {

namespace soapns {
inline constexpr std::string_view kEnvelope12 = "http://www.w3.org/2003/05/soap-envelope";
inline constexpr std::string_view kEnvelope11 = "http://schemas.xmlsoap.org/soap/envelope/";
inline constexpr std::string_view kDevice = "http://www.onvif.org/ver10/device/wsdl";
inline constexpr std::string_view kMedia = "http://www.onvif.org/ver10/media/wsdl";
inline constexpr std::string_view kSchema = "http://www.onvif.org/ver10/schema";
inline constexpr std::string_view kSecurity =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-secext-1.0.xsd";
inline constexpr std::string_view kUtility =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-utility-1.0.xsd";
}  // namespace soapns

// Where the device service is: a strict dotted quad, a port, a path.
struct OnvifTarget {
    std::uint32_t address = 0;
    std::uint16_t port = 80;
    std::string path = "/onvif/device_service";
};

// "IP", "IP:PORT" or "http://IP[:PORT][/path]" (a device's service address),
// the IP a strict dotted quad. Nothing (and *error says why) otherwise.
std::optional<OnvifTarget> ParseOnvifTarget(std::string_view text, std::string* error = nullptr);
// The target's address as a dotted quad: the key of its stored login.
std::string AddressText(const OnvifTarget& target);

struct OnvifLogin {
    std::string user;
    std::string password;
};

// Base64(SHA-1(nonce + created + password)), nonce as raw bytes.
std::string PasswordDigest(std::string_view nonce, std::string_view created,
                           std::string_view password);
// UTC, to the second: "2026-12-09T11:06:04Z".
std::string UtcText(std::chrono::system_clock::time_point time);
// The SOAP header's WS-Security element with a UsernameToken.
std::string UsernameTokenHeader(const OnvifLogin& login, std::string_view nonce,
                                std::string_view created);

enum class OnvifStatus {
    Ok,
    NeedsLogin,   // the device wants a user name and password and none was given
    Refused,      // it refused the user name and password given
    Unreachable,  // no connection, no answer in time, or an answer too large
    BadAnswer,    // an answer that is not the one asked for
};

struct OnvifNetworkInterface {
    std::string name;
    std::string mac;
    std::optional<bool> dhcp;  // nothing when the device does not say
};

struct OnvifStream {
    std::string profileToken;
    std::string profileName;
    std::string uri;
};

struct OnvifDetails {
    OnvifStatus status = OnvifStatus::Unreachable;
    std::string reason;  // one line when status is not Ok
    // The device's clock minus this PC's; nothing when it gave no UTC time.
    std::optional<std::chrono::seconds> clockOffset;
    std::string manufacturer;
    std::string model;
    std::string firmware;
    std::string serial;
    std::string hardwareId;
    std::vector<OnvifNetworkInterface> interfaces;
    std::vector<OnvifStream> streams;
};

// What one call came back with: the Body's first element when Ok.
struct SoapReply {
    OnvifStatus status = OnvifStatus::Unreachable;
    std::string reason;
    std::optional<XmlElement> body;
};

// Reads one HTTP answer of a SOAP call: faults (NotAuthorized as NeedsLogin
// or Refused, by whether a login was sent), 401, other statuses, XML that is
// not a SOAP envelope.
SoapReply ReadSoapReply(const HttpResponse& response, bool loginSent);

// The answers' parts, read by namespace URI.
std::optional<std::chrono::system_clock::time_point> ParseDeviceUtcTime(const XmlElement& reply);
void ParseDeviceInformation(const XmlElement& reply, OnvifDetails& details);
std::vector<OnvifNetworkInterface> ParseNetworkInterfaces(const XmlElement& reply);
std::vector<OnvifStream> ParseProfiles(const XmlElement& reply);
std::string ParseStreamUri(const XmlElement& reply);

// At most this many profiles are asked for their stream.
inline constexpr std::size_t kMaxProfiles = 16;

using HttpPoster = std::function<HttpResponse(const HttpRequest&)>;
using WallClock = std::function<std::chrono::system_clock::time_point()>;

class OnvifDeviceClient {
public:
    explicit OnvifDeviceClient(OnvifTarget target, HttpPoster post = HttpPost,
                               WallClock now = std::chrono::system_clock::now);

    void SetLogin(std::optional<OnvifLogin> login) { m_login = std::move(login); }

    // Every fact; stops at the first call that cannot reach the device or
    // that the device refuses.
    OnvifDetails QueryDetails();

    // The first RTP-unicast RTSP location of the device's profiles, when its
    // host is the target's address; otherwise status says why not.
    struct StreamAnswer {
        OnvifStatus status = OnvifStatus::Unreachable;
        std::string reason;
        std::string uri;
    };
    StreamAnswer FirstRtspUri();

    // The offset learnt by the last QueryDetails or FirstRtspUri.
    std::optional<std::chrono::seconds> ClockOffset() const { return m_offset; }

private:
    SoapReply Call(std::string_view ns, std::string_view action, const std::string& body,
                   bool withLogin);
    // GetSystemDateAndTime; false (and reply says why) when the device is
    // not reached.
    bool LearnClock(SoapReply& reply);
    std::vector<OnvifStream> QueryStreams(SoapReply& failure, bool firstOnly);

    OnvifTarget m_target;
    HttpPoster m_post;
    WallClock m_now;
    std::optional<OnvifLogin> m_login;
    std::optional<std::chrono::seconds> m_offset;
};

// Whether uri is "rtsp://HOST[:PORT]/..." with HOST exactly the dotted quad
// of address; otherwise *reason says why it is not played.
bool IsStreamUriOf(std::string_view uri, std::uint32_t address, std::string* reason = nullptr);

}  // namespace qdipc
