// The device-service client's pieces without a network: the login digest
// against known answers, answers read by namespace whatever their prefixes,
// faults, bounds of the XML reader, and the strict address rules.

#include <gtest/gtest.h>

#include "discovery/OnvifDevice.h"

namespace qdipc {
namespace {

using namespace std::chrono;

// Digests from OpenSSL's command line, independent of the code under test:
//   printf '%s' 000102030405060708090a0b0c0d0e0f | xxd -r -p > nonce
//   { cat nonce; printf '%s' 2026-12-09T13:06:04Z; printf secret; } |
//       openssl dgst -sha1 -binary | base64
//   { printf nonce; printf 2010-09-16T07:50:45Z; printf userpassword; } |
//       openssl dgst -sha1 -binary | base64
TEST(OnvifLogin, PasswordDigestKnownAnswers) {
    const std::string nonce("\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f", 16);
    EXPECT_EQ(PasswordDigest(nonce, "2026-12-09T13:06:04Z", "secret"),
              "ok3p5WF2yQuL/8rFMiSdre1o+jo=");
    EXPECT_EQ(PasswordDigest("nonce", "2010-09-16T07:50:45Z", "userpassword"),
              "M+HvnSfSCKB5IL1jDSqe4pyMyCQ=");
}

TEST(OnvifLogin, TokenCarriesUserDigestNonceAndCreatedByNamespace) {
    const std::string nonce("\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f", 16);
    const std::string header =
        UsernameTokenHeader({"ad<min", "secret"}, nonce, "2026-12-09T13:06:04Z");
    // The header needs the envelope's prefix s: declared to be read alone.
    const auto root = ParseSoapXml(
        R"(<s:Header xmlns:s="http://www.w3.org/2003/05/soap-envelope">)" + header + "</s:Header>");
    ASSERT_TRUE(root);
    const XmlElement* token =
        root->Path({{soapns::kSecurity, "Security"}, {soapns::kSecurity, "UsernameToken"}});
    ASSERT_NE(token, nullptr);
    EXPECT_EQ(token->Child(soapns::kSecurity, "Username")->text, "ad<min");
    const XmlElement* password = token->Child(soapns::kSecurity, "Password");
    EXPECT_EQ(password->text, "ok3p5WF2yQuL/8rFMiSdre1o+jo=");
    EXPECT_EQ(password->Attribute("Type"),
              "http://docs.oasis-open.org/wss/2004/01/"
              "oasis-200401-wss-username-token-profile-1.0#PasswordDigest");
    // base64 < nonce
    EXPECT_EQ(token->Child(soapns::kSecurity, "Nonce")->text, "AAECAwQFBgcICQoLDA0ODw==");
    EXPECT_EQ(token->Child(soapns::kUtility, "Created")->text, "2026-12-09T13:06:04Z");
}

TEST(OnvifLogin, UtcTextIsTheSecondInUtc) {
    // date -u -d @1796821564 +%Y-%m-%dT%H:%M:%SZ
    const system_clock::time_point t{seconds{1796821564} + milliseconds{999}};
    EXPECT_EQ(UtcText(t), "2026-12-09T13:06:04Z");
    EXPECT_EQ(UtcText(system_clock::time_point{}), "1970-01-01T00:00:00Z");
}

HttpResponse Answer(int status, std::string body) {
    HttpResponse response;
    response.outcome = HttpOutcome::Answered;
    response.status = status;
    response.body = std::move(body);
    return response;
}

// The same answer with the prefixes devices really use, and with default
// namespaces instead of prefixes.
TEST(OnvifAnswers, DeviceInformationReadByNamespaceWhateverThePrefix) {
    const std::vector<std::string> answers = {
        R"(<s:Envelope xmlns:s="http://www.w3.org/2003/05/soap-envelope" xmlns:tds="http://www.onvif.org/ver10/device/wsdl"><s:Body><tds:GetDeviceInformationResponse><tds:Manufacturer>Maker</tds:Manufacturer><tds:Model>M 1</tds:Model><tds:FirmwareVersion>1.2</tds:FirmwareVersion><tds:SerialNumber>S9</tds:SerialNumber><tds:HardwareId>H</tds:HardwareId></tds:GetDeviceInformationResponse></s:Body></s:Envelope>)",
        R"(<?xml version="1.0"?><SOAP-ENV:Envelope xmlns:SOAP-ENV="http://www.w3.org/2003/05/soap-envelope" xmlns:dev="http://www.onvif.org/ver10/device/wsdl"><SOAP-ENV:Header/><SOAP-ENV:Body><dev:GetDeviceInformationResponse><dev:Manufacturer> Maker
</dev:Manufacturer><dev:Model>M &#x31;</dev:Model><dev:FirmwareVersion>1.2</dev:FirmwareVersion><dev:SerialNumber>S9</dev:SerialNumber><dev:HardwareId>H</dev:HardwareId></dev:GetDeviceInformationResponse></SOAP-ENV:Body></SOAP-ENV:Envelope>)",
        R"(<Envelope xmlns="http://www.w3.org/2003/05/soap-envelope"><Body><GetDeviceInformationResponse xmlns="http://www.onvif.org/ver10/device/wsdl"><Manufacturer>Maker</Manufacturer><Model>M 1</Model><FirmwareVersion>1.2</FirmwareVersion><SerialNumber>S9</SerialNumber><HardwareId>H</HardwareId></GetDeviceInformationResponse></Body></Envelope>)",
    };
    for (const std::string& text : answers) {
        SCOPED_TRACE(text.substr(0, 60));
        const SoapReply reply = ReadSoapReply(Answer(200, text), true);
        ASSERT_EQ(reply.status, OnvifStatus::Ok) << reply.reason;
        OnvifDetails details;
        ParseDeviceInformation(*reply.body, details);
        EXPECT_EQ(details.manufacturer, "Maker");
        EXPECT_EQ(details.model, "M 1");
        EXPECT_EQ(details.firmware, "1.2");
        EXPECT_EQ(details.serial, "S9");
        EXPECT_EQ(details.hardwareId, "H");
    }
}

TEST(OnvifAnswers, PrefixWithAnotherNamespaceIsNotTaken) {
    // "tds:" bound to a wrong URI: the names match by prefix only.
    const SoapReply reply = ReadSoapReply(
        Answer(
            200,
            R"(<s:Envelope xmlns:s="http://www.w3.org/2003/05/soap-envelope" xmlns:tds="urn:other"><s:Body><tds:GetDeviceInformationResponse><tds:Manufacturer>X</tds:Manufacturer></tds:GetDeviceInformationResponse></s:Body></s:Envelope>)"),
        true);
    ASSERT_EQ(reply.status, OnvifStatus::Ok);
    OnvifDetails details;
    ParseDeviceInformation(*reply.body, details);
    EXPECT_EQ(details.manufacturer, "");
    // An envelope of no SOAP namespace is no answer at all.
    EXPECT_EQ(
        ReadSoapReply(
            Answer(200, R"(<s:Envelope xmlns:s="urn:x"><s:Body><a/></s:Body></s:Envelope>)"), true)
            .status,
        OnvifStatus::BadAnswer);
}

TEST(OnvifAnswers, NotAuthorizedFaultAndStatus401) {
    const std::string fault =
        R"(<env:Envelope xmlns:env="http://www.w3.org/2003/05/soap-envelope" xmlns:ter="http://www.onvif.org/ver10/error"><env:Body><env:Fault><env:Code><env:Value>env:Sender</env:Value><env:Subcode><env:Value>ter:NotAuthorized</env:Value></env:Subcode></env:Code><env:Reason><env:Text xml:lang="en">Sender not Authorized</env:Text></env:Reason></env:Fault></env:Body></env:Envelope>)";
    EXPECT_EQ(ReadSoapReply(Answer(400, fault), false).status, OnvifStatus::NeedsLogin);
    const SoapReply refused = ReadSoapReply(Answer(400, fault), true);
    EXPECT_EQ(refused.status, OnvifStatus::Refused);
    EXPECT_NE(refused.reason.find("Sender not Authorized"), std::string::npos);
    EXPECT_EQ(ReadSoapReply(Answer(401, ""), false).status, OnvifStatus::NeedsLogin);
    EXPECT_EQ(ReadSoapReply(Answer(401, ""), true).status, OnvifStatus::Refused);
    // Another fault is not a login matter.
    std::string other = fault;
    other.replace(other.find("ter:NotAuthorized"), 17, "ter:ActionNotSupported");
    EXPECT_EQ(ReadSoapReply(Answer(400, other), true).status, OnvifStatus::BadAnswer);
    // An answer that never came.
    HttpResponse lost;
    lost.outcome = HttpOutcome::TimedOut;
    lost.error = "no answer";
    EXPECT_EQ(ReadSoapReply(lost, true).status, OnvifStatus::Unreachable);
}

TEST(OnvifAnswers, ClockInterfacesProfilesAndStreamUri) {
    const auto body = [](const std::string& inner) {
        const auto reply = ReadSoapReply(
            Answer(
                200,
                R"(<e:Envelope xmlns:e="http://www.w3.org/2003/05/soap-envelope" xmlns:d="http://www.onvif.org/ver10/device/wsdl" xmlns:m="http://www.onvif.org/ver10/media/wsdl" xmlns:sc="http://www.onvif.org/ver10/schema"><e:Body>)" +
                    inner + "</e:Body></e:Envelope>"),
            true);
        EXPECT_EQ(reply.status, OnvifStatus::Ok) << reply.reason;
        return *reply.body;
    };
    const auto clock = [&](const std::string& month) {
        return ParseDeviceUtcTime(
            body("<d:GetSystemDateAndTimeResponse><d:SystemDateAndTime><sc:LocalDateTime><sc:Date><"
                 "sc:Year>1999</sc:Year><sc:Month>1</sc:Month><sc:Day>1</sc:Day></sc:Date></"
                 "sc:LocalDateTime><sc:UTCDateTime><sc:Date><sc:Year>2026</sc:Year><sc:Month>" +
                 month +
                 "</sc:Month><sc:Day>9</sc:Day></sc:Date><sc:Time><sc:Hour>13</"
                 "sc:Hour><sc:Minute>6</sc:Minute><sc:Second>4</sc:Second></sc:Time></"
                 "sc:UTCDateTime></d:SystemDateAndTime></d:GetSystemDateAndTimeResponse>"));
    };
    const auto utc = clock("12");
    ASSERT_TRUE(utc);
    EXPECT_EQ(utc->time_since_epoch(), seconds{1796821564});
    EXPECT_FALSE(clock("13"));
    EXPECT_FALSE(clock("-1"));

    const auto interfaces = ParseNetworkInterfaces(body(
        R"(<d:GetNetworkInterfacesResponse><d:NetworkInterfaces token="a"><sc:Info><sc:Name>eth0</sc:Name><sc:HwAddress>00:11:22:33:44:55</sc:HwAddress></sc:Info><sc:IPv4><sc:Config><sc:DHCP>true</sc:DHCP></sc:Config></sc:IPv4></d:NetworkInterfaces><d:NetworkInterfaces token="b"><sc:Info><sc:HwAddress>66:77:88:99:aa:bb</sc:HwAddress></sc:Info><sc:IPv4><sc:Config><sc:DHCP>false</sc:DHCP></sc:Config></sc:IPv4></d:NetworkInterfaces><d:NetworkInterfaces token="c"/></d:GetNetworkInterfacesResponse>)"));
    ASSERT_EQ(interfaces.size(), 3u);
    EXPECT_EQ(interfaces[0].name, "eth0");
    EXPECT_EQ(interfaces[0].mac, "00:11:22:33:44:55");
    EXPECT_EQ(interfaces[0].dhcp, std::optional<bool>(true));
    EXPECT_EQ(interfaces[1].mac, "66:77:88:99:aa:bb");
    EXPECT_EQ(interfaces[1].dhcp, std::optional<bool>(false));
    EXPECT_EQ(interfaces[2].dhcp, std::nullopt);

    const auto profiles = ParseProfiles(body(
        R"(<m:GetProfilesResponse><m:Profiles token="p0" fixed="true"><sc:Name>Main</sc:Name></m:Profiles><m:Profiles><sc:Name>no token</sc:Name></m:Profiles><m:Profiles token="p1"/></m:GetProfilesResponse>)"));
    ASSERT_EQ(profiles.size(), 2u);
    EXPECT_EQ(profiles[0].profileToken, "p0");
    EXPECT_EQ(profiles[0].profileName, "Main");
    EXPECT_EQ(profiles[1].profileToken, "p1");

    EXPECT_EQ(ParseStreamUri(body("<m:GetStreamUriResponse><m:MediaUri><sc:Uri>rtsp://10.0.0.5/a</"
                                  "sc:Uri></m:MediaUri></m:GetStreamUriResponse>")),
              "rtsp://10.0.0.5/a");
    // A location with a line break in it is none.
    EXPECT_EQ(ParseStreamUri(body("<m:GetStreamUriResponse><m:MediaUri><sc:Uri>rtsp://10.0.0.5/"
                                  "a&#10;b</sc:Uri></m:MediaUri></m:GetStreamUriResponse>")),
              "");
}

TEST(OnvifAnswers, ReaderRefusesDoctypeDeepNestingAndBrokenXml) {
    std::string error;
    // Entities of a document type are how a small text grows large.
    EXPECT_FALSE(ParseSoapXml(R"(<!DOCTYPE a [<!ENTITY x "xxxxxxxx">]><a>&x;&x;</a>)", &error));
    std::string deep;
    for (int i = 0; i < kMaxXmlDepth; ++i) {
        deep += "<a>";
    }
    std::string closing;
    for (int i = 0; i < kMaxXmlDepth; ++i) {
        closing += "</a>";
    }
    EXPECT_TRUE(ParseSoapXml(deep + closing));                            // exactly the bound
    EXPECT_FALSE(ParseSoapXml("<a>" + deep + closing + "</a>", &error));  // one deeper
    EXPECT_NE(error.find("nests deeper"), std::string::npos);
    EXPECT_FALSE(ParseSoapXml("<a><b></a>"));
    const auto undeclared = ParseSoapXml("<p:a/>");  // an undeclared prefix
    EXPECT_FALSE(undeclared) << undeclared->ns << " " << undeclared->local;
    EXPECT_FALSE(ParseSoapXml(std::string(kMaxXmlDocument + 1, ' ')));
}

TEST(OnvifTargets, OnlyAStrictDottedQuadWithAPort) {
    const auto target = ParseOnvifTarget("10.0.0.5");
    ASSERT_TRUE(target);
    EXPECT_EQ(target->address, 0x0A000005u);
    EXPECT_EQ(target->port, 80);
    EXPECT_EQ(target->path, "/onvif/device_service");
    const auto url = ParseOnvifTarget("http://192.168.1.20:8080/onvif/dev");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->address, 0xC0A80114u);
    EXPECT_EQ(url->port, 8080);
    EXPECT_EQ(url->path, "/onvif/dev");
    EXPECT_EQ(AddressText(*url), "192.168.1.20");
    for (const char* bad :
         {"10.0.0.05", "10.0.0.5:", "10.0.0.5:0", "10.0.0.5:65536", "10.0.0.5:1@10.0.0.6",
          "camera.local", "https://10.0.0.5/", "http://10.0.0.5:80@10.0.0.6/",
          "http://10.0.0.5/a b", " 10.0.0.5", "10.0.0.5:08"}) {
        EXPECT_FALSE(ParseOnvifTarget(bad)) << bad;
    }
}

TEST(OnvifTargets, StreamLocationMustNameTheSameAddress) {
    const std::uint32_t address = 0x0A000005;  // 10.0.0.5
    EXPECT_TRUE(IsStreamUriOf("rtsp://10.0.0.5/a", address));
    EXPECT_TRUE(IsStreamUriOf("rtsp://10.0.0.5:8554/a?b=1", address));
    std::string reason;
    EXPECT_FALSE(IsStreamUriOf("rtsp://10.0.0.50/a", address, &reason));
    EXPECT_NE(reason.find("another host than 10.0.0.5"), std::string::npos);
    EXPECT_FALSE(IsStreamUriOf("rtsp://10.0.0.5:1@10.0.0.6/a", address));
    EXPECT_FALSE(IsStreamUriOf("rtsp://user@10.0.0.5/a", address));
    EXPECT_FALSE(IsStreamUriOf("http://10.0.0.5/a", address));
    EXPECT_FALSE(IsStreamUriOf("rtsp://10.0.0.5:/a", address));
}

// The token's Created is this PC's time plus the device's offset, and the
// clock call carries no login.
TEST(OnvifClient, TokenTimeIsOnTheDeviceClock) {
    const system_clock::time_point pcNow{seconds{1796821564}};  // 2026-12-09T13:06:04Z
    std::vector<std::string> bodies;
    HttpPoster fake = [&](const HttpRequest& request) {
        bodies.push_back(request.body);
        if (request.body.find("GetSystemDateAndTime") != std::string::npos) {
            // The device is 2 hours and 30 s ahead: 15:06:34.
            return Answer(
                200,
                R"(<s:Envelope xmlns:s="http://www.w3.org/2003/05/soap-envelope" xmlns:tds="http://www.onvif.org/ver10/device/wsdl" xmlns:tt="http://www.onvif.org/ver10/schema"><s:Body><tds:GetSystemDateAndTimeResponse><tds:SystemDateAndTime><tt:UTCDateTime><tt:Date><tt:Year>2026</tt:Year><tt:Month>12</tt:Month><tt:Day>9</tt:Day></tt:Date><tt:Time><tt:Hour>15</tt:Hour><tt:Minute>6</tt:Minute><tt:Second>34</tt:Second></tt:Time></tt:UTCDateTime></tds:SystemDateAndTime></tds:GetSystemDateAndTimeResponse></s:Body></s:Envelope>)");
        }
        return Answer(500, "");
    };
    OnvifDeviceClient client(*ParseOnvifTarget("10.0.0.5"), fake, [&] { return pcNow; });
    client.SetLogin(OnvifLogin{"admin", "pw"});
    const OnvifDetails details = client.QueryDetails();
    EXPECT_EQ(details.clockOffset, std::optional<seconds>(seconds{7230}));
    ASSERT_GE(bodies.size(), 2u);
    EXPECT_EQ(bodies[0].find("UsernameToken"), std::string::npos);
    EXPECT_NE(bodies[1].find("<wsu:Created>2026-12-09T15:06:34Z</wsu:Created>"), std::string::npos);
    EXPECT_EQ(details.status, OnvifStatus::BadAnswer);
}

}  // namespace
}  // namespace qdipc
