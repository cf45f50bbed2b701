// WS-Discovery in the core: the probe's schedule and text, the readers of a
// device's lists, the merge of several answers into one device, and one
// discovery over loopback against a responder the test plays.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <regex>
#include <set>
#include <thread>

#include "discovery/OnvifDevices.h"
#include "discovery/OnvifProbe.h"
#include "discovery/OnvifWatch.h"
#include "discovery/WsDiscovery.h"
#include "platform/XmlReader.h"
#include "tests/discovery/LoopbackHelpers.h"

namespace qdipc {
namespace {

using std::chrono::milliseconds;

TEST(WsDiscovery, ScheduleDoublesTheDrawnGapUpTo500) {
    using S = std::array<milliseconds, 4>;
    EXPECT_EQ(ProbeSendOffsets([] { return 50; }),
              (S{milliseconds(0), milliseconds(50), milliseconds(150), milliseconds(350)}));
    EXPECT_EQ(ProbeSendOffsets([] { return 130; }),
              (S{milliseconds(0), milliseconds(130), milliseconds(390), milliseconds(890)}));
    EXPECT_EQ(ProbeSendOffsets([] { return 250; }),
              (S{milliseconds(0), milliseconds(250), milliseconds(750), milliseconds(1250)}));
    // A draw outside 50-250 is clamped to it.
    EXPECT_EQ(ProbeSendOffsets([] { return 10; })[1], milliseconds(50));
    EXPECT_EQ(ProbeSendOffsets([] { return 400; })[1], milliseconds(250));
}

TEST(WsDiscovery, MessageIdsAreFreshVersion4Uuids) {
    std::mt19937_64 random(7);
    const std::string first = NewUuidUrn(random);
    const std::string second = NewUuidUrn(random);
    const std::regex shape(
        "urn:uuid:[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
    EXPECT_TRUE(std::regex_match(first, shape)) << first;
    EXPECT_TRUE(std::regex_match(second, shape)) << second;
    EXPECT_NE(first, second);
}

TEST(WsDiscovery, ProbeReadsBackAsAProbeWithItsId) {
    for (const ProbeType type : {ProbeType::NetworkVideoTransmitter, ProbeType::Device}) {
        const std::string probe = ProbeMessage(type, "urn:uuid:1");
        const auto message = ReadWsdMessage(probe);
        ASSERT_TRUE(message.has_value());
        EXPECT_EQ(message->messageId, "urn:uuid:1");
        EXPECT_EQ(message->action, "http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe");
        EXPECT_EQ(message->kind, WsdKind::Other);
        const bool nvt = type == ProbeType::NetworkVideoTransmitter;
        EXPECT_EQ(probe.find("dn:NetworkVideoTransmitter</d:Types>") != std::string::npos, nvt);
        EXPECT_EQ(probe.find("tds:Device</d:Types>") != std::string::npos, !nvt);
    }
}

TEST(WsDiscovery, ListReaders) {
    EXPECT_EQ(PercentDecode("Lobby%20Cam%20%231"), "Lobby Cam #1");
    EXPECT_EQ(PercentDecode("100%"), "100%");
    EXPECT_EQ(PercentDecode("a%2"), "a%2");
    EXPECT_EQ(PercentDecode("%zz%41"), "%zzA");
    const OnvifScopeValues values = ReadOnvifScopes(
        {"onvif://www.onvif.org/name/A%20B", "onvif://www.onvif.org/name/second",
         "onvif://www.onvif.org/location/city/Paris", "http://example/name/x",
         "onvif://www.onvif.org/hardware/HW%2F2", "onvif://www.onvif.org/location/floor%203",
         "onvif://www.onvif.org/name/"});
    EXPECT_EQ(values.name, "A B");
    EXPECT_EQ(values.hardware, "HW/2");
    EXPECT_EQ(values.location, "city/Paris / floor 3");

    const auto v4 = HostOfUrl("http://user@10.1.2.3:8080/onvif/device_service");
    ASSERT_TRUE(v4.has_value());
    EXPECT_EQ(v4->host, "10.1.2.3");
    EXPECT_EQ(v4->ipv4, 0x0A010203u);
    const auto v6 = HostOfUrl("http://[fe80::211:22ff:fe33:4455]:80/x");
    ASSERT_TRUE(v6.has_value());
    EXPECT_TRUE(v6->ipv6);
    EXPECT_EQ(v6->host, "fe80::211:22ff:fe33:4455");
    EXPECT_FALSE(HostOfUrl("http://camera.local/x")->ipv4.has_value());
    EXPECT_FALSE(HostOfUrl("http://10.1.2.300/x")->ipv4.has_value());
    EXPECT_FALSE(HostOfUrl("no-scheme").has_value());
    EXPECT_FALSE(HostOfUrl("http://[fe80::1/x").has_value());

    EXPECT_EQ(MacOfEui64LinkLocal("fe80::211:22ff:fe33:4455"), "00:11:22:33:44:55");
    EXPECT_EQ(MacOfEui64LinkLocal("fe80:0:0:0:0200:00ff:fe00:0005%eth0"), "00:00:00:00:00:05");
    EXPECT_EQ(MacOfEui64LinkLocal("fe80::ff:fe00:5"), "02:00:00:00:00:05");
    EXPECT_FALSE(MacOfEui64LinkLocal("fe80::1").has_value());  // no ff:fe
    EXPECT_FALSE(
        MacOfEui64LinkLocal("2001:db8::211:22ff:fe33:4455").has_value());         // not link-local
    EXPECT_FALSE(MacOfEui64LinkLocal("fe80::211:22ff:fe33:4455:1").has_value());  // nine groups

    EXPECT_TRUE(UsableIpv4(0x0A000001));
    EXPECT_FALSE(UsableIpv4(0xA9FE0A14));  // 169.254.10.20
    EXPECT_FALSE(UsableIpv4(0x7F000001));
    EXPECT_FALSE(UsableIpv4(0xEFFFFFFA));
    EXPECT_FALSE(UsableIpv4(0));
}

WsdEndpoint Endpoint(std::string address, std::vector<std::string> xaddrs,
                     std::vector<std::string> scopes = {}) {
    WsdEndpoint endpoint;
    endpoint.address = std::move(address);
    endpoint.xaddrs = std::move(xaddrs);
    endpoint.scopes = std::move(scopes);
    return endpoint;
}

TEST(OnvifDeviceSet, MergesOneDeviceFromSeveralAnswers) {
    OnvifDeviceSet set;
    Ipv4Interface lanA{"a", 2, "10.1.0.9", "255.255.0.0", "10.1.255.255"};
    Ipv4Interface lanB{"b", 3, "192.168.5.9", "255.255.255.0", "192.168.5.255"};
    set.SetHostInterfaces({lanA, lanB});
    // The same device on two LANs: it lists both addresses on each.
    const std::vector<std::string> xaddrs = {"http://169.254.3.4/onvif/device_service",
                                             "http://10.1.0.20/onvif/device_service",
                                             "http://192.168.5.20/onvif/device_service"};
    WsdEndpoint first = Endpoint("urn:uuid:d1", xaddrs, {"onvif://www.onvif.org/name/front"});
    first.types = {{kOnvifNetworkNamespace, "NetworkVideoTransmitter"}};
    EXPECT_EQ(set.Merge(first, 0xC0A80514, lanB.index), 0);
    EXPECT_EQ(set.Devices()[0].ip, "192.168.5.20");  // on the interface it came in on
    WsdEndpoint second =
        Endpoint("urn:uuid:d1", {"http://[fe80::ff:fe00:7]/onvif"},
                 {"onvif://www.onvif.org/hardware/HW1", "onvif://www.onvif.org/name/other"});
    second.types = {{kOnvifDeviceNamespace, "Device"},
                    {kOnvifNetworkNamespace, "NetworkVideoTransmitter"}};
    EXPECT_EQ(set.Merge(second, 0x0A010014, lanA.index), 0);
    ASSERT_EQ(set.Size(), 1u);
    const OnvifDevice& device = set.Devices()[0];
    EXPECT_EQ(device.answers, 2);
    EXPECT_EQ(device.xaddrs.size(), 4u);
    EXPECT_EQ(device.types.size(), 2u);
    EXPECT_TRUE(HasProbeType(device.types, ProbeType::Device));
    EXPECT_EQ(device.scopeValues.name, "front");  // the first name stays
    EXPECT_EQ(device.scopeValues.hardware, "HW1");
    EXPECT_EQ(device.ip, "10.1.0.20");  // now come in on lanA
    EXPECT_EQ(device.mac, "02:00:00:00:00:07");
    EXPECT_EQ(device.arrivalInterface, lanA.index);

    // Another endpoint is another device; one with only IPv6 and link-local
    // XAddrs takes the datagram's source; one without an endpoint is keyed
    // on its source.
    EXPECT_EQ(set.Merge(Endpoint("urn:uuid:d2", {"http://[2001:db8::1]/x", "http://169.254.1.1/x"}),
                        0x0A010015, lanA.index),
              1);
    EXPECT_EQ(set.Devices()[1].ip, "10.1.0.21");
    EXPECT_EQ(set.Merge(Endpoint("", {}), 0x0A010016, 0), 2);
    EXPECT_EQ(set.Merge(Endpoint("", {}), 0x0A010016, 0), 2);
    EXPECT_EQ(set.Devices()[2].ip, "10.1.0.22");
    // An XAddr on no interface's network still beats the source.
    EXPECT_EQ(set.Merge(Endpoint("urn:uuid:d3", {"http://172.16.0.3/x"}), 0x0A010017, 0), 3);
    EXPECT_EQ(set.Devices()[3].ip, "172.16.0.3");
}

// A ProbeMatches the test's responder sends.
std::string Match(const std::string& relatesTo, const std::string& endpoint,
                  const std::string& ip) {
    return "<e:Envelope xmlns:e='http://www.w3.org/2003/05/soap-envelope' "
           "xmlns:w='http://schemas.xmlsoap.org/ws/2004/08/addressing' "
           "xmlns:q='http://schemas.xmlsoap.org/ws/2005/04/discovery'><e:Header>"
           "<w:RelatesTo>" +
           relatesTo +
           "</w:RelatesTo></e:Header><e:Body><q:ProbeMatches><q:ProbeMatch>"
           "<w:EndpointReference><w:Address>" +
           endpoint + "</w:Address></w:EndpointReference><q:XAddrs>http://" + ip +
           "/onvif/device_service</q:XAddrs></q:ProbeMatch></q:ProbeMatches></e:Body>"
           "</e:Envelope>";
}

TEST(OnvifProbe, SendsEachProbeFourTimesAndKeepsOnlyAnswersToThem) {
    UdpSocket responder;
    ASSERT_TRUE(responder.Open());
    ASSERT_TRUE(responder.Bind({"127.0.0.1", 0}));
    const std::uint16_t port = responder.LocalPort();

    std::map<std::string, int> probesPerId;
    std::vector<std::string> types;
    std::thread answering([&] {
        std::vector<std::uint8_t> buffer(kMaxXmlBytes);
        std::array<DatagramSlot, 1> slot{};
        std::set<std::string> answered;
        while (true) {
            slot[0] = DatagramSlot{buffer.data(), buffer.size()};
            if (responder.ReceiveBatch(slot) <= 0) {
                return;
            }
            const std::string text(reinterpret_cast<const char*>(buffer.data()), slot[0].length);
            const auto probe = ReadWsdMessage(text);
            if (!probe) {
                continue;
            }
            ++probesPerId[probe->messageId];
            if (!answered.insert(probe->messageId).second) {
                continue;
            }
            types.push_back(text.find("NetworkVideoTransmitter") != std::string::npos ? "nvt"
                                                                                      : "device");
            const Ipv4Endpoint back{"127.0.0.1", slot[0].sourcePort};
            const std::string good = Match(probe->messageId, "urn:uuid:cam", "10.9.0.7");
            const std::string stray = Match("urn:uuid:not-ours", "urn:uuid:stray", "10.9.0.8");
            responder.SendTo(reinterpret_cast<const std::uint8_t*>(good.data()), good.size(), back);
            responder.SendTo(reinterpret_cast<const std::uint8_t*>(stray.data()), stray.size(),
                             back);
        }
    });

    OnvifProbeOptions options;
    options.destination = {"127.0.0.1", port};
    options.interfaces = test::LoopbackNetworks();
    options.listen = milliseconds(900);
    options.multicastLoop = true;
    options.drawFirstGap = [] { return 50; };  // sends at 0, 50, 150, 350 ms
    OnvifProbe probe(options);
    EXPECT_TRUE(probe.Run());
    responder.Interrupt();
    answering.join();

    ASSERT_EQ(probe.Counts().size(), 1u);
    EXPECT_EQ(probe.Counts()[0].probesSent, 8);
    // Two probes, each with its own MessageID, each sent four times.
    ASSERT_EQ(probesPerId.size(), 2u);
    EXPECT_EQ(probesPerId[probe.MessageIds()[0]], 4);
    EXPECT_EQ(probesPerId[probe.MessageIds()[1]], 4);
    std::sort(types.begin(), types.end());
    EXPECT_EQ(types, (std::vector<std::string>{"device", "nvt"}));
    // Both answers of the camera merge into one device; the strays are ignored.
    EXPECT_EQ(probe.Counts()[0].datagrams, 4);
    EXPECT_EQ(probe.Counts()[0].accepted, 2);
    EXPECT_EQ(probe.Ignored(), 2);
    ASSERT_EQ(probe.Devices().Size(), 1u);
    EXPECT_EQ(probe.Devices().Devices()[0].endpoint, "urn:uuid:cam");
    EXPECT_EQ(probe.Devices().Devices()[0].ip, "10.9.0.7");
    EXPECT_EQ(probe.Devices().Devices()[0].answers, 2);
}

// A Hello or a Bye written with the given envelope (soap), addressing (wsa)
// and discovery (wsd) prefixes, bound to the given URIs; body is what goes
// inside the Hello or Bye after its EndpointReference.
struct Announcement {
    std::string soap = "s";
    std::string wsa = "a";
    std::string wsd = "d";
    std::string wsdUri = kWsdNamespace;
    std::string element = "Hello";
    std::string address = "urn:uuid:hello-1";
    std::string body =
        "<d:Types xmlns:dn='http://www.onvif.org/ver10/network/wsdl'>dn:NetworkVideoTransmitter"
        "</d:Types><d:XAddrs>http://10.9.0.7/onvif/device_service</d:XAddrs>";
    std::string padding;  // white space before the end of the envelope

    std::string Text() const {
        const std::string s = soap.empty() ? "" : soap + ":";
        const std::string a = wsa.empty() ? "" : wsa + ":";
        const std::string d = wsd.empty() ? "" : wsd + ":";
        const auto declare = [](const std::string& prefix, const std::string& uri) {
            return " xmlns" + (prefix.empty() ? "" : ":" + prefix) + "='" + uri + "'";
        };
        std::string inner = body;
        // The body is written with d:; other prefixes replace it.
        for (std::size_t at = 0; (at = inner.find("d:", at)) != std::string::npos;) {
            inner.replace(at, 2, d);
            at += d.size();
        }
        std::string text = "<" + s + "Envelope" + declare(soap, kSoap12Namespace) + "><" + s +
                           "Header><" + a + "Action" + declare(wsa, kAddressingNamespace) +
                           ">http://schemas.xmlsoap.org/ws/2005/04/discovery/" + element + "</" +
                           a + "Action></" + s + "Header><" + s + "Body><" + d + element +
                           declare(wsd, wsdUri) + "><" + a + "EndpointReference" +
                           declare(wsa, kAddressingNamespace) + "><" + a + "Address>" + address +
                           "</" + a + "Address></" + a + "EndpointReference>" + inner + "</" + d +
                           element + "></" + s + "Body>" + padding + "</" + s + "Envelope>";
        return text;
    }
};

// What the watch reads from the group: by namespace URI whatever the
// prefixes (none, the default namespace, odd ones), only ONVIF devices'
// Hellos, Byes by their address alone, nothing oversize or too deep.
TEST(OnvifWatch, AnnouncementsReadByNamespaceUriOnly) {
    Announcement plain;
    Announcement odd;
    odd.soap = "SOAP-ENV";
    odd.wsa = "wsa5";
    odd.wsd = "tns";
    Announcement defaults;  // every element in its default namespace
    defaults.soap = defaults.wsa = defaults.wsd = "";
    defaults.body =
        "<Types xmlns:q='http://www.onvif.org/ver10/device/wsdl'>q:Device</Types>"
        "<XAddrs>http://10.9.0.7/onvif/device_service</XAddrs>";
    Announcement scopeOnly;  // no Types: an onvif:// scope says what it is
    scopeOnly.body =
        "<d:Scopes>onvif://www.onvif.org/name/gate</d:Scopes>"
        "<d:XAddrs>http://10.9.0.7/x</d:XAddrs>";
    Announcement printer;  // another kind of device on the same group
    printer.body =
        "<d:Types xmlns:wsdp='http://schemas.xmlsoap.org/ws/2006/02/devprof'>wsdp:Device</d:Types>"
        "<d:Scopes>http://printer.example/scope</d:Scopes><d:XAddrs>http://10.9.0.8/</d:XAddrs>";
    Announcement wrongUri;  // the right prefix "dn" bound to another namespace
    wrongUri.body = "<d:Types xmlns:dn='urn:not-onvif'>dn:NetworkVideoTransmitter</d:Types>";
    Announcement discovery11;  // the right names in WS-Discovery 1.1's namespace
    discovery11.wsdUri = "http://docs.oasis-open.org/ws-dd/ns/discovery/2009/01";
    Announcement bye;
    bye.element = "Bye";
    bye.body = "";  // no Types, no XAddrs
    Announcement byeNoAddress = bye;
    byeNoAddress.address = "";
    Announcement matches;  // a ProbeMatches (someone else's) heard on the group
    matches.element = "ProbeMatches";
    Announcement deep;  // an extension nested deeper than any real message
    for (int i = 0; i < kMaxXmlDepth; ++i) {
        deep.body += "<x:e xmlns:x='urn:x'>";
    }
    for (int i = 0; i < kMaxXmlDepth; ++i) {
        deep.body += "</x:e>";
    }
    deep.body += plain.body;
    Announcement largest = plain;  // exactly 64 KiB, and one byte more
    largest.padding.assign(kMaxXmlBytes - plain.Text().size(), ' ');
    Announcement over = largest;
    over.padding += ' ';
    ASSERT_EQ(largest.Text().size(), kMaxXmlBytes);

    struct Row {
        const char* label;
        std::string text;
        std::optional<OnvifSightingKind> kind;
        const char* endpoint;
        const char* ip;
    };
    const Row table[] = {
        {"plain prefixes", plain.Text(), OnvifSightingKind::Hello, "urn:uuid:hello-1", "10.9.0.7"},
        {"SOAP-ENV wsa5 tns", odd.Text(), OnvifSightingKind::Hello, "urn:uuid:hello-1", "10.9.0.7"},
        {"default namespaces", defaults.Text(), OnvifSightingKind::Hello, "urn:uuid:hello-1",
         "10.9.0.7"},
        {"onvif scope without types", scopeOnly.Text(), OnvifSightingKind::Hello,
         "urn:uuid:hello-1", "10.9.0.7"},
        {"a printer's Hello", printer.Text(), std::nullopt, "", ""},
        {"dn bound to another URI", wrongUri.Text(), std::nullopt, "", ""},
        {"WS-Discovery 1.1 namespace", discovery11.Text(), std::nullopt, "", ""},
        {"Bye without XAddrs", bye.Text(), OnvifSightingKind::Bye, "urn:uuid:hello-1", ""},
        {"Bye without an address", byeNoAddress.Text(), std::nullopt, "", ""},
        {"ProbeMatches on the group", matches.Text(), std::nullopt, "", ""},
        {"too deep", deep.Text(), std::nullopt, "", ""},
        {"64 KiB", largest.Text(), OnvifSightingKind::Hello, "urn:uuid:hello-1", "10.9.0.7"},
        {"64 KiB and one byte", over.Text(), std::nullopt, "", ""},
        {"not XML", "<s:Envelope", std::nullopt, "", ""},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.label);
        const auto sighting = ReadAnnouncement(row.text, 0x0A090063, 0, {});
        ASSERT_EQ(sighting.has_value(), row.kind.has_value());
        if (!sighting) {
            continue;
        }
        EXPECT_EQ(sighting->kind, *row.kind);
        EXPECT_EQ(sighting->device.endpoint, row.endpoint);
        EXPECT_EQ(sighting->device.ip, row.ip);
    }
    // A Hello without an address is keyed on its source, as an answer is.
    Announcement anonymous = plain;
    anonymous.address = "";
    const auto keyed = ReadAnnouncement(anonymous.Text(), 0x0A090063, 0, {});
    ASSERT_TRUE(keyed.has_value());
    EXPECT_EQ(keyed->device.endpoint, "source:10.9.0.99");
}

// The source over loopback: what reaches its port comes out in order (the
// owner woken once per batch); a round of probes gives its devices and then
// its end, leaving out a device that said Bye while the round ran.
TEST(OnvifWatch, HeardInOrderAndAByeDuringARoundOutweighsItsAnswer) {
    UdpSocket responder;
    ASSERT_TRUE(responder.Open());
    ASSERT_TRUE(responder.Bind({"127.0.0.1", 0}));
    std::atomic<int> answered{0};
    std::thread answering([&] {
        std::vector<std::uint8_t> buffer(kMaxXmlBytes);
        std::array<DatagramSlot, 1> slot{};
        std::set<std::string> seen;
        while (true) {
            slot[0] = DatagramSlot{buffer.data(), buffer.size()};
            if (responder.ReceiveBatch(slot) <= 0) {
                return;
            }
            const auto probe = ReadWsdMessage(
                std::string(reinterpret_cast<const char*>(buffer.data()), slot[0].length));
            if (!probe || !seen.insert(probe->messageId).second) {
                continue;
            }
            const std::string match = Match(probe->messageId, "urn:uuid:cam", "10.9.0.7");
            responder.SendTo(reinterpret_cast<const std::uint8_t*>(match.data()), match.size(),
                             {"127.0.0.1", slot[0].sourcePort});
            ++answered;
        }
    });

    std::atomic<int> wakes{0};
    OnvifWatchOptions options;
    options.announcements = {"127.0.0.1", 0};
    options.interfaces = test::LoopbackNetworks();
    options.probe.destination = {"127.0.0.1", responder.LocalPort()};
    options.probe.listen = milliseconds(500);
    options.probe.multicastLoop = true;
    options.probe.drawFirstGap = [] { return 50; };
    options.wake = [&] { ++wakes; };
    OnvifWatchSource source(options);
    ASSERT_TRUE(source.Listen());
    ASSERT_NE(source.ListenPort(), 0);
    UdpSocket device;
    ASSERT_TRUE(device.Open());
    const auto send = [&](const std::string& text) {
        device.SendTo(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(),
                      {"127.0.0.1", source.ListenPort()});
    };
    // Waits (at most 3 s) until count sightings are there.
    std::vector<OnvifSighting> heard;
    const auto takeUntil = [&](std::size_t count) {
        for (int i = 0; i < 300 && heard.size() < count; ++i) {
            for (OnvifSighting& sighting : source.Take()) {
                heard.push_back(std::move(sighting));
            }
            std::this_thread::sleep_for(milliseconds(10));
        }
    };
    Announcement hello;
    Announcement bye;
    bye.element = "Bye";
    bye.body = "";
    send(hello.Text());
    send("<not xml");
    send(bye.Text());
    takeUntil(2);
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_EQ(heard[0].kind, OnvifSightingKind::Hello);
    EXPECT_EQ(heard[0].device.ip, "10.9.0.7");
    EXPECT_EQ(heard[1].kind, OnvifSightingKind::Bye);
    EXPECT_EQ(heard[1].device.endpoint, "urn:uuid:hello-1");
    EXPECT_GE(wakes.load(), 1);

    // A round: the camera answers, then says Bye while the round still listens.
    heard.clear();
    ASSERT_TRUE(source.Probe());
    EXPECT_FALSE(source.Probe());  // one round at a time
    for (int i = 0; i < 200 && answered.load() < 1; ++i) {
        std::this_thread::sleep_for(milliseconds(5));
    }
    Announcement camBye = bye;
    camBye.address = "urn:uuid:cam";
    send(camBye.Text());
    takeUntil(2);
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_EQ(heard[0].kind, OnvifSightingKind::Bye);
    EXPECT_EQ(heard[1].kind, OnvifSightingKind::RoundEnd);
    // The next round, without a Bye, gives the camera.
    heard.clear();
    for (int i = 0; i < 300 && !source.Probe(); ++i) {
        std::this_thread::sleep_for(milliseconds(10));
    }
    takeUntil(2);
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_EQ(heard[0].kind, OnvifSightingKind::ProbeMatch);
    EXPECT_EQ(heard[0].device.endpoint, "urn:uuid:cam");
    EXPECT_EQ(heard[1].kind, OnvifSightingKind::RoundEnd);
    source.Stop();
    responder.Interrupt();
    answering.join();
}

}  // namespace
}  // namespace qdipc
