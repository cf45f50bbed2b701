// Every answer variant of the device simulator through the reader and the
// merge: each field the list shows on its own, against what the variant's
// device really says (written here, not taken from the simulator).
#include <gtest/gtest.h>

#include "OnvifAnswers.h"
#include "discovery/OnvifDevices.h"
#include "discovery/WsDiscovery.h"

namespace qdipc {
namespace {

struct Expected {
    const char* variant;
    bool answersNvt;
    bool answersDevice;
    bool typeNvt;
    bool typeDevice;
    const char* name;
    const char* ip;
    const char* mac;
    std::size_t xaddrs;
    std::size_t endpoints;
};

constexpr const char* kName = "Lobby Cam #1";
// The device: 10.0.0.5, MAC 02:00:00:00:00:05, hardware "NVT-5".
const Expected kTable[] = {
    {"plain", true, true, true, true, kName, "10.0.0.5", "", 1, 1},
    {"soap-env", true, true, true, true, kName, "10.0.0.5", "", 1, 1},
    {"env-tns", true, true, true, true, kName, "10.0.0.5", "", 1, 1},
    {"default-ns", true, true, true, true, kName, "10.0.0.5", "", 1, 1},
    {"no-types", true, true, false, false, kName, "10.0.0.5", "", 1, 1},
    {"nvt-only", true, false, true, false, kName, "10.0.0.5", "", 1, 1},
    {"device-only", false, true, false, true, kName, "10.0.0.5", "", 1, 1},
    {"odd-type-prefix", true, true, true, true, kName, "10.0.0.5", "", 1, 1},
    {"many-xaddrs", true, true, true, true, kName, "10.0.0.5", "", 3, 1},
    {"link-local-first", true, true, true, true, kName, "10.0.0.5", "", 2, 1},
    {"eui64-xaddr", true, true, true, true, kName, "10.0.0.5", "02:00:00:00:00:05", 2, 1},
    {"ipv6-only", true, true, true, true, kName, "10.0.0.99", "02:00:00:00:00:05", 1, 1},
    {"wrong-relates-to", true, true, true, true, kName, "10.0.0.5", "", 1, 1},
    {"percent-scopes", true, true, true, true, kName, "10.0.0.5", "", 1, 1},
    {"soap11", true, true, true, true, kName, "10.0.0.5", "", 1, 1},
    {"addressing-2005", true, true, true, true, kName, "10.0.0.5", "", 1, 1},
    {"entities-cdata", true, true, true, true, kName, "10.0.0.5", "", 1, 1},
    {"pretty", true, true, true, true, kName, "10.0.0.5", "", 1, 1},
    {"https-only", true, true, true, true, kName, "10.0.0.5", "", 1, 1},
    {"no-name", true, true, true, true, "", "10.0.0.5", "", 1, 1},
    {"extra-headers", true, true, true, true, kName, "10.0.0.5", "", 1, 1},
    {"two-matches", true, true, true, true, kName, "10.0.0.5", "", 1, 2},
    {"uppercase-scope-host", true, true, true, true, kName, "10.0.0.5", "", 1, 1},
};

TEST(WsdVariants, EveryVariantReadsFieldByField) {
    ASSERT_EQ(std::size(kTable), onvifsim::Variants().size());
    const onvifsim::SimDevice device{"urn:uuid:0a1f0000-0000-4000-8000-000000000005", "10.0.0.5",
                                     "02:00:00:00:00:05", kName, "NVT-5"};
    const onvifsim::ProbeSeen nvt{true, "urn:uuid:aaaa", true, false};
    const onvifsim::ProbeSeen dev{true, "urn:uuid:bbbb", false, true};
    for (const Expected& row : kTable) {
        SCOPED_TRACE(row.variant);
        const int variant = onvifsim::VariantByName(row.variant);
        ASSERT_GE(variant, 0);
        const std::string toNvt = onvifsim::ProbeMatchesText(device, variant, nvt, 1);
        const std::string toDevice = onvifsim::ProbeMatchesText(device, variant, dev, 2);
        EXPECT_EQ(!toNvt.empty(), row.answersNvt);
        EXPECT_EQ(!toDevice.empty(), row.answersDevice);
        const std::string& text = toNvt.empty() ? toDevice : toNvt;
        const auto message = ReadWsdMessage(text);
        ASSERT_TRUE(message.has_value());
        EXPECT_EQ(message->kind, WsdKind::ProbeMatches);
        const bool wrong = std::string(row.variant) == "wrong-relates-to";
        EXPECT_EQ(message->relatesTo == (toNvt.empty() ? dev.messageId : nvt.messageId), !wrong);
        EXPECT_EQ(message->action, "http://schemas.xmlsoap.org/ws/2005/04/discovery/ProbeMatches");
        ASSERT_EQ(message->endpoints.size(), row.endpoints);
        const WsdEndpoint& endpoint = message->endpoints[0];
        EXPECT_EQ(endpoint.address, device.endpoint);
        EXPECT_EQ(HasProbeType(endpoint.types, ProbeType::NetworkVideoTransmitter), row.typeNvt);
        EXPECT_EQ(HasProbeType(endpoint.types, ProbeType::Device), row.typeDevice);
        EXPECT_EQ(endpoint.xaddrs.size(), row.xaddrs);
        EXPECT_EQ(endpoint.metadataVersion, 1u);

        OnvifDeviceSet set;
        set.Merge(endpoint, 0x0A000063, 0);  // from 10.0.0.99
        ASSERT_EQ(set.Size(), 1u);
        const OnvifDevice& merged = set.Devices()[0];
        EXPECT_EQ(merged.scopeValues.name, row.name);
        EXPECT_EQ(merged.scopeValues.hardware, "NVT-5");
        EXPECT_EQ(merged.ip, row.ip);
        EXPECT_EQ(merged.mac, row.mac);
        if (std::string(row.variant) == "percent-scopes") {
            EXPECT_EQ(merged.scopeValues.location, "building A / floor 2");
        } else {
            EXPECT_EQ(merged.scopeValues.location, "country/china");
        }
        if (std::string(row.variant) == "entities-cdata") {
            EXPECT_EQ(endpoint.xaddrs[0], "http://10.0.0.5/onvif/device_service?a=1&b=2");
        }

        // Hello carries the same device; Bye its endpoint only.
        const auto hello = ReadWsdMessage(onvifsim::HelloText(device, variant, 3));
        ASSERT_TRUE(hello.has_value());
        EXPECT_EQ(hello->kind, WsdKind::Hello);
        ASSERT_EQ(hello->endpoints.size(), 1u);
        EXPECT_EQ(hello->endpoints[0].address, device.endpoint);
        EXPECT_EQ(hello->endpoints[0].xaddrs.size(), row.xaddrs);
        const auto bye = ReadWsdMessage(onvifsim::ByeText(device, variant, 4));
        ASSERT_TRUE(bye.has_value());
        EXPECT_EQ(bye->kind, WsdKind::Bye);
        ASSERT_EQ(bye->endpoints.size(), 1u);
        EXPECT_EQ(bye->endpoints[0].address, device.endpoint);
        EXPECT_TRUE(bye->endpoints[0].xaddrs.empty());
    }
}

TEST(WsdVariants, NotAnEnvelopeIsNoMessage) {
    EXPECT_FALSE(ReadWsdMessage("<Envelope/>").has_value());
    EXPECT_FALSE(ReadWsdMessage("<s:Envelope xmlns:s='urn:other'/>").has_value());
    EXPECT_FALSE(ReadWsdMessage("not xml").has_value());
    // Elements of the right names in the wrong namespace are not read.
    const auto message = ReadWsdMessage(
        "<s:Envelope xmlns:s='http://www.w3.org/2003/05/soap-envelope' xmlns:d='urn:not-wsd'>"
        "<s:Body><d:ProbeMatches><d:ProbeMatch/></d:ProbeMatches></s:Body></s:Envelope>");
    ASSERT_TRUE(message.has_value());
    EXPECT_EQ(message->kind, WsdKind::Other);
    EXPECT_TRUE(message->endpoints.empty());
}

}  // namespace
}  // namespace qdipc
