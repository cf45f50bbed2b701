#include "settings/NetSettingsRecord.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "settings/ChangeConfirmation.h"
#include "settings/SettingsValidation.h"
#include "tests/discovery/LoopbackHelpers.h"
#include "tests/discovery/TestReplies.h"

namespace qdipc {
namespace {

using test::Hex;

constexpr std::int64_t kNow = 1767198605;  // draws 23535 = 0x5BEF

std::vector<std::uint8_t> Bytes(const NetSettingsRecord& record) {
    return {record.bytes.begin(), record.bytes.end()};
}

// A record with a distinct value in every byte: 0x10, 0x11, ...
NetSettingsRecord PatternRecord() {
    NetSettingsRecord record;
    for (std::size_t i = 0; i < record.bytes.size(); ++i) {
        record.bytes[i] = static_cast<std::uint8_t>(0x10 + i);
    }
    return record;
}

TEST(NetSettingsRecordTest, TextFieldsStayInsideTheirSixteenBytes) {
    NetSettingsRecord record;
    record.bytes.fill(0xEE);
    record.SetText(29, "192.168.1.20");
    const auto ip = Hex("31 39 32 2E 31 36 38 2E 31 2E 32 30 00 00 00 00");
    EXPECT_EQ(std::vector<std::uint8_t>(record.bytes.begin() + 29, record.bytes.begin() + 45), ip);
    EXPECT_EQ(record.bytes[28], 0xEE);
    EXPECT_EQ(record.bytes[45], 0xEE);
    EXPECT_EQ(record.Text(29), "192.168.1.20");

    // 20 characters: the first 16 fill the field with no terminator, the next
    // field is untouched.
    record.SetText(45, "ABCDEFGHIJKLMNOPQRST");
    EXPECT_EQ(std::string(record.bytes.begin() + 45, record.bytes.begin() + 61),
              "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(record.bytes[61], 0xEE);
    EXPECT_EQ(record.Text(45), "ABCDEFGHIJKLMNOP");

    record.SetText(61, "");
    EXPECT_EQ(std::vector<std::uint8_t>(record.bytes.begin() + 61, record.bytes.begin() + 77),
              std::vector<std::uint8_t>(16, 0));
    EXPECT_EQ(record.bytes[77], 0xEE);
    EXPECT_EQ(record.Text(61), "");

    // A field offset that does not leave 16 bytes is refused.
    const auto before = Bytes(record);
    record.SetText(80, "x");
    EXPECT_EQ(Bytes(record), before);
    EXPECT_EQ(record.Text(80), "");
}

TEST(NetSettingsRecordTest, ModeByte) {
    NetSettingsRecord record;
    record.SetMode(AddressingMode::Dhcp);
    EXPECT_EQ(record.bytes[12], 1);
    EXPECT_EQ(record.Mode(), AddressingMode::Dhcp);
    record.SetMode(AddressingMode::Adsl);
    EXPECT_EQ(record.bytes[12], 2);
    EXPECT_EQ(record.Mode(), AddressingMode::Adsl);
    record.SetMode(AddressingMode::Static);
    EXPECT_EQ(record.bytes[12], 0);
    record.bytes[12] = 7;
    EXPECT_EQ(record.Mode(), AddressingMode::Static);
    for (std::size_t i = 0; i < record.bytes.size(); ++i) {
        if (i != 12) {
            EXPECT_EQ(record.bytes[i], 0) << i;
        }
    }
}

TEST(NetSettingsRecordTest, ModifyRecordLayoutFromTheWindowsValues) {
    std::array<std::uint8_t, 16> block{};
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>(0xA0 + i);
    }
    const NetSettingsRecord record = BuildModifyRecord(block, AddressingMode::Adsl, "10.0.0.7",
                                                       "255.0.0.0", "10.0.0.1", "0:1a-2B:3c:4d:5e");
    std::vector<std::uint8_t> expected(88, 0);
    expected[12] = 2;
    for (std::size_t i = 0; i < 16; ++i) {
        expected[13 + i] = static_cast<std::uint8_t>(0xA0 + i);
    }
    const std::string ip = "10.0.0.7", mask = "255.0.0.0", gateway = "10.0.0.1";
    std::copy(ip.begin(), ip.end(), expected.begin() + 29);
    std::copy(mask.begin(), mask.end(), expected.begin() + 45);
    std::copy(gateway.begin(), gateway.end(), expected.begin() + 61);
    const auto mac = Hex("00 1A 2B 3C 4D 5E");  // any single separator splits the groups
    std::copy(mac.begin(), mac.end(), expected.begin() + 77);
    EXPECT_EQ(Bytes(record), expected);

    // Texts keep 15 bytes, so every field still ends in a zero byte.
    const NetSettingsRecord longTexts = BuildModifyRecord(
        block, AddressingMode::Static, "1234567890123456789", "ABCDEFGHIJKLMNOPQ", "", "");
    EXPECT_EQ(longTexts.Text(29), "123456789012345");
    EXPECT_EQ(longTexts.bytes[44], 0);
    EXPECT_EQ(longTexts.Text(45), "ABCDEFGHIJKLMNO");
    EXPECT_EQ(longTexts.bytes[60], 0);
    EXPECT_EQ(longTexts.Text(61), "");
    EXPECT_EQ(longTexts.bytes[12], 0);
    EXPECT_EQ(std::vector<std::uint8_t>(longTexts.bytes.begin() + 77, longTexts.bytes.begin() + 84),
              std::vector<std::uint8_t>(7, 0));
}

TEST(SettingsHandoffTest, LayoutAndMarker) {
    const NetSettingsRecord record = PatternRecord();
    const SettingsHandoff handoff = SettingsHandoff::Wrap(record);
    ASSERT_EQ(handoff.bytes.size(), 92u);
    EXPECT_EQ(std::vector<std::uint8_t>(handoff.bytes.begin(), handoff.bytes.begin() + 4),
              Hex("56 39 83 00"));
    EXPECT_EQ(std::vector<std::uint8_t>(handoff.bytes.begin() + 4, handoff.bytes.end()),
              Bytes(record));
    EXPECT_TRUE(handoff.HasMarker());
    EXPECT_EQ(Bytes(handoff.Record()), Bytes(record));

    for (std::size_t position = 0; position < 3; ++position) {
        SettingsHandoff changed = handoff;
        changed.bytes[position] ^= 0x01;
        EXPECT_FALSE(changed.HasMarker()) << position;
    }
    SettingsHandoff wrongThird = handoff;
    wrongThird.bytes[2] = 0x84;  // 'V' '9' 0x84
    EXPECT_FALSE(wrongThird.HasMarker());
    for (int value : {0x00, 0x01, 0x7F, 0xFF}) {
        SettingsHandoff anyByte3 = handoff;
        anyByte3.bytes[3] = static_cast<std::uint8_t>(value);
        EXPECT_TRUE(anyByte3.HasMarker()) << value;
    }
}

TEST(StampSettingsRecordTest, ReplacesOnlyTheSignatureAndTheStamp) {
    const NetSettingsRecord record = PatternRecord();  // non-zero magic and stamp
    auto expected = Bytes(record);
    test::Put(expected, 0, Hex("D3 ED CB FF"));
    test::Put(expected, 84, Hex("FF 7F 00 00"));
    EXPECT_EQ(Bytes(StampSettingsRecord(record, 32767)), expected);
    test::Put(expected, 84, Hex("00 00 00 00"));
    EXPECT_EQ(Bytes(StampSettingsRecord(record, 0)), expected);
    // The input is left as it was.
    EXPECT_EQ(record.bytes[0], 0x10);
    EXPECT_EQ(BroadcastOutcomeText(BroadcastOutcome::Ok), std::string("Setting OK!"));
    EXPECT_EQ(BroadcastOutcomeText(BroadcastOutcome::Error), std::string("Setting error!"));
}

TEST(SettingsBroadcasterTest, SendsTheStampedRecordAsOneDatagram) {
    test::LoopbackReceiver camera;
    SettingsBroadcaster broadcaster(
        camera.Endpoint(), [] { return kNow; }, test::LoopbackNetworks());
    const NetSettingsRecord record = PatternRecord();
    EXPECT_EQ(broadcaster.SendSettingsRecord(record), BroadcastOutcome::Ok);

    auto expected = Bytes(record);
    test::Put(expected, 0, Hex("D3 ED CB FF"));
    test::Put(expected, 84, Hex("EF 5B 00 00"));
    const auto datagram = camera.Next();
    EXPECT_EQ(datagram.size(), 88u);
    EXPECT_EQ(datagram, expected);
}

TEST(SettingsBroadcasterTest, HandoffWithoutTheMarkerSendsNothing) {
    test::LoopbackReceiver camera;
    std::int64_t now = 0;
    SettingsBroadcaster broadcaster(
        camera.Endpoint(), [&now] { return now; }, test::LoopbackNetworks());
    NetSettingsRecord first;
    first.SetText(29, "10.0.0.1");
    SettingsHandoff wrong = SettingsHandoff::Wrap(first);
    wrong.bytes[2] = 0x84;
    EXPECT_EQ(broadcaster.ApplyHandoff(wrong), std::nullopt);

    // The first datagram to arrive is the one of the correct handoff.
    NetSettingsRecord second;
    second.SetText(29, "10.0.0.2");
    SettingsHandoff right = SettingsHandoff::Wrap(second);
    right.bytes[3] = 0xAB;  // ignored
    now = 1;
    EXPECT_EQ(broadcaster.ApplyHandoff(right), BroadcastOutcome::Ok);
    const auto datagram = camera.Next();
    ASSERT_EQ(datagram.size(), 88u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(datagram.data()) + 29), "10.0.0.2");
    EXPECT_EQ(datagram[84], 41);  // the draw at second 1
}

TEST(SettingsBroadcasterTest, GoesOutWhereTheCameraWasFoundElseEverywhere) {
    if (!test::ForeignSourceRefused()) {
        GTEST_SKIP() << "this system binds a socket to an address that is not the host's, so "
                        "no network can stand in for one whose sends fail";
    }
    test::LoopbackReceiver camera;
    const auto loopback = LoopbackInterface();
    ASSERT_TRUE(loopback.has_value());
    // Two networks: loopback, and one whose sends fail (an index and an
    // address the host does not have), so a datagram that arrives can only
    // have gone out of loopback.
    Ipv4Interface elsewhere{"elsewhere", 0x7FFFFFF0u, "192.0.2.1", "255.255.255.0", "192.0.2.255"};
    const std::vector<Ipv4Interface> networks{elsewhere, *loopback};
    int listings = 0;
    SettingsBroadcaster broadcaster(
        camera.Endpoint(), [] { return kNow; },
        [&] {
            ++listings;
            return networks;
        });
    auto sendMarker = [&](std::uint8_t marker) {
        NetSettingsRecord record;
        record.bytes[83] = marker;
        return broadcaster.SendSettingsRecord(record, 0);
    };
    const NetSettingsRecord record;
    const auto stamped = StampSettingsRecord(record, 1);

    // Found on loopback: sent there, once.
    EXPECT_EQ(broadcaster.BroadcastSettingsRecord(stamped, loopback->index), BroadcastOutcome::Ok);
    // Found on the network that cannot send: no fallback to the others.
    EXPECT_EQ(broadcaster.BroadcastSettingsRecord(stamped, elsewhere.index),
              BroadcastOutcome::Error);
    // Unknown: every network; one got it.
    EXPECT_EQ(sendMarker(0xA1), BroadcastOutcome::Ok);
    // An interface that has gone: no other network holds that camera, so
    // nothing goes out, and the reason says why.
    std::string failure;
    EXPECT_EQ(broadcaster.BroadcastSettingsRecord(stamped, 424242, &failure),
              BroadcastOutcome::Error);
    EXPECT_NE(failure.find("(index 424242) is gone"), std::string::npos) << failure;
    EXPECT_EQ(listings, 4);

    EXPECT_EQ(camera.Next(), Bytes(stamped));
    const auto unknown = camera.Next();
    ASSERT_EQ(unknown.size(), 88u);
    EXPECT_EQ(unknown[83], 0xA1);
    // The one after it is the marker of the check below, not the gone one's.
    EXPECT_EQ(sendMarker(0xA2), BroadcastOutcome::Ok);
    const auto next = camera.Next();
    ASSERT_EQ(next.size(), 88u);
    EXPECT_EQ(next[83], 0xA2);

    // No network at all: nothing can go out.
    SettingsBroadcaster isolated(
        camera.Endpoint(), [] { return kNow; }, [] { return std::vector<Ipv4Interface>{}; });
    EXPECT_EQ(isolated.BroadcastSettingsRecord(stamped, 0), BroadcastOutcome::Error);
    EXPECT_EQ(isolated.BroadcastSettingsRecord(stamped, loopback->index), BroadcastOutcome::Error);
}

TEST(SettingsBroadcasterTest, FailedSendIsAnError) {
    SettingsBroadcaster broadcaster(
        {"not an address", 5050}, [] { return kNow; }, test::LoopbackNetworks());
    EXPECT_EQ(broadcaster.SendSettingsRecord(NetSettingsRecord{}), BroadcastOutcome::Error);
}

// Each case changes one thing of a good static change (192.168.1.64/24,
// gateway .1, a unicast MAC) and names the field that must be refused and a
// part of the reason; an empty field means the change passes.
TEST(SettingsValidationTest, RulesBeforeSending) {
    struct Case {
        AddressingMode mode;
        const char* ip;
        const char* mask;
        const char* gateway;
        const char* mac;
        std::optional<SettingsField> field;
        const char* reason;
    };
    constexpr auto S = AddressingMode::Static;
    constexpr auto D = AddressingMode::Dhcp;
    constexpr auto A = AddressingMode::Adsl;
    const char* ip = "192.168.1.64";
    const char* m24 = "255.255.255.0";
    const char* gw = "192.168.1.1";
    const char* mac = "00:1a:2b:3c:4d:5e";
    using F = SettingsField;
    const std::vector<Case> cases = {
        // Good changes.
        {S, ip, m24, gw, mac, {}, ""},
        {S, "10.0.0.2", "255.0.0.0", "10.255.255.254", "02-00-00-00-00-01", {}, ""},
        {S, "172.16.5.9", "255.255.255.252", "172.16.5.10", "0A:1B:2C:3D:4E:5F", {}, ""},
        {S, "1.0.0.1", "128.0.0.0", "1.2.3.4", mac, {}, ""},
        {S, "169.254.7.8", "255.255.0.0", "169.254.0.1", mac, {}, ""},
        {D, "", "", "", mac, {}, ""},
        {A, ip, "255.0.255.0", "10.9.9.9", mac, {}, ""},
        // Not addresses.
        {S, "999.1.2.300", m24, gw, mac, F::Ip, "IP: 999.1.2.300 is not an IPv4 address"},
        {S, "hello", m24, gw, mac, F::Ip, "IP: hello is not an IPv4 address"},
        {S, "", m24, gw, mac, F::Ip, "IP: empty"},
        {S, "192.168.1", m24, gw, mac, F::Ip, "not an IPv4"},
        {S, "192.168.1.64.", m24, gw, mac, F::Ip, "not an IPv4"},
        {S, "192.168..64", m24, gw, mac, F::Ip, "not an IPv4"},
        {S, " 192.168.1.64", m24, gw, mac, F::Ip, "not an IPv4"},
        {S, "+192.168.1.64", m24, gw, mac, F::Ip, "not an IPv4"},
        {S, "192.168.1.0064", m24, gw, mac, F::Ip, "not an IPv4"},
        {S, "192.168.01.64", m24, gw, mac, F::Ip, "leading zero"},
        {S, ip, "nonsense", gw, mac, F::Mask, "Mask: nonsense is not a netmask"},
        {S, ip, m24, "", mac, F::Gateway, "Gateway: empty"},
        {S, ip, m24, gw, "zz:yy", F::Mac, "MAC: zz:yy is not a MAC address"},
        {S, ip, m24, gw, "", F::Mac, "MAC: empty"},
        {S, ip, m24, gw, "1:2:3:4:5:6", F::Mac, "not a MAC"},
        {S, ip, m24, gw, "00:1a-2b:3c:4d:5e", F::Mac, "not a MAC"},
        {S, ip, m24, gw, "001a2b3c4d5e", F::Mac, "not a MAC"},
        {S, ip, m24, gw, "00:1a:2b:3c:4d:5e:", F::Mac, "not a MAC"},
        // Addresses a camera cannot live on.
        {S, "0.0.0.0", m24, gw, mac, F::Ip, "unspecified"},
        {S, "0.1.2.3", "255.255.0.0", "0.1.0.1", mac, F::Ip, "0.0.0.0/8"},
        {S, "127.0.0.5", "255.0.0.0", "127.0.0.1", mac, F::Ip, "loopback"},
        {S, "224.0.0.5", m24, gw, mac, F::Ip, "multicast"},
        {S, "240.1.2.3", m24, gw, mac, F::Ip, "reserved"},
        {S, "255.255.255.255", m24, gw, mac, F::Ip, "is the broadcast address"},
        {S, "192.168.1.0", m24, gw, mac, F::Ip, "network address of 192.168.1.0/24"},
        {S, "192.168.1.255", m24, gw, mac, F::Ip, "broadcast address of 192.168.1.0/24"},
        {S, ip, "255.0.255.0", gw, mac, F::Mask,
         "Mask: 255.0.255.0 is not a valid netmask (its ones must be contiguous)"},
        {S, ip, "0.255.255.255", gw, mac, F::Mask, "contiguous"},
        {S, ip, "0.0.0.0", gw, mac, F::Mask, "(/0) has no network part"},
        {S, ip, "255.255.255.254", "192.168.1.65", mac, F::Mask, "(/31) leaves no room"},
        {S, ip, "255.255.255.255", gw, mac, F::Mask, "(/32) leaves no room"},
        {S, ip, m24, "10.0.0.1", mac, F::Gateway, "outside the IP's subnet 192.168.1.0/24"},
        {S, "10.0.0.2", "255.0.0.0", "127.0.0.1", mac, F::Gateway, "loopback"},
        {S, "126.0.0.2", "254.0.0.0", "127.0.0.1", mac, F::Gateway, "loopback"},
        {S, ip, m24, "192.168.1.0", mac, F::Gateway, "network address"},
        {S, ip, m24, "192.168.1.255", mac, F::Gateway, "broadcast address"},
        {S, ip, m24, ip, mac, F::Gateway, "the IP itself"},
        {S, ip, m24, gw, "00:00:00:00:00:00", F::Mac, "all zeros"},
        {S, ip, m24, gw, "01:00:5e:00:00:fb", F::Mac, "multicast"},
        {S, ip, m24, gw, "FF-FF-FF-FF-FF-FF", F::Mac, "broadcast"},
        // The first problem wins, in the window's order.
        {S, "hello", "nonsense", "", "zz:yy", F::Ip, "IP: hello"},
        // DHCP and ADSL: addresses optional but well formed, the MAC always checked.
        {D, "hello", "nonsense", "", mac, F::Ip, "IP: hello is not an IPv4 address"},
        {D, "", "nonsense", "", mac, F::Mask, "Mask: nonsense is not a netmask"},
        {A, "", "", "01.2.3.4", mac, F::Gateway, "leading zero"},
        {D, ip, m24, gw, "00:00:00:00:00:00", F::Mac, "all zeros"},
        {A, "", "", "", "zz:yy", F::Mac, "not a MAC"},
    };
    for (const Case& c : cases) {
        const auto problem = ValidateSettings(c.ip, c.mask, c.gateway, c.mac, c.mode);
        const std::string what = std::string(c.ip) + " " + c.mask + " " + c.gateway + " " + c.mac;
        ASSERT_EQ(problem.has_value(), c.field.has_value())
            << what << ": " << (problem ? problem->reason : "passes");
        if (problem) {
            EXPECT_EQ(problem->field, *c.field) << what << ": " << problem->reason;
            EXPECT_NE(problem->reason.find(c.reason), std::string::npos)
                << what << ": '" << problem->reason << "' lacks '" << c.reason << "'";
        }
    }
}

TEST(SettingsValidationTest, StrictParsersGiveTheValues) {
    EXPECT_EQ(ParseIpv4Strict("192.168.1.64"), 0xC0A80140u);
    EXPECT_EQ(ParseIpv4Strict("0.0.0.0"), 0u);
    EXPECT_EQ(ParseIpv4Strict("255.255.255.255"), 0xFFFFFFFFu);
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.-4", "1.2.3.4 ",
                            "1.2.3.04", "0x1.2.3.4", "1,2,3,4"}) {
        EXPECT_FALSE(ParseIpv4Strict(bad).has_value()) << bad;
    }
    EXPECT_EQ(FormatIpv4(0x0A4D0109u), "10.77.1.9");
    const std::array<std::uint8_t, 6> expected = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    EXPECT_EQ(ParseMacStrict("00:1a:2b:3c:4d:5e"), expected);
    EXPECT_EQ(ParseMacStrict("00-1A-2B-3C-4D-5E"), expected);
    EXPECT_FALSE(ParseMacStrict("00:1a:2b:3c:4d:5g").has_value());
}

// The record a settings window sends for camera n: the camera's device ID,
// new values, the wire's magic and a stamp (which the confirmation ignores).
NetSettingsRecord ChangeFor(std::uint32_t n, AddressingMode mode, const std::string& ip) {
    const test::CameraReply camera = test::Camera(n);
    std::array<std::uint8_t, record::kDevIdBlockSize> block{};
    std::copy(camera.devId.begin(), camera.devId.end(), block.begin());
    return StampSettingsRecord(
        BuildModifyRecord(block, mode, ip, "255.255.0.0", "10.77.0.1", "02:00:00:00:00:09"), 77);
}

// Which of ChangeFor's values a reply reports: all of them, the camera's old
// ones, or all but one.
enum class Values { New, Old, OldMask, OldGateway, OldMac, OtherMac };

// Camera n answering with ip and values, from source (default: ip itself).
AcceptedReply Answer(std::uint32_t n, const std::string& ip, Values values = Values::New,
                     const std::string& source = "") {
    test::CameraReply camera = test::Camera(n);
    camera.ip = ip;
    if (values != Values::Old) {
        camera.mask = values == Values::OldMask ? camera.mask : "255.255.0.0";
        camera.gateway = values == Values::OldGateway ? camera.gateway : "10.77.0.1";
        camera.mac = values == Values::OldMac ? camera.mac
                     : values == Values::OtherMac
                         ? std::array<std::uint8_t, 6>{2, 0x66, 0, 0, 0, 0x66}
                         : std::array<std::uint8_t, 6>{2, 0, 0, 0, 0, 9};
    }
    AcceptedReply accepted = camera.Accepted(1);
    accepted.sourceAddress = ParseIpv4Strict(source.empty() ? ip : source).value_or(0);
    return accepted;
}

TEST(ChangeConfirmationTest, OnlyEvidenceFromTheCameraConfirms) {
    using namespace std::chrono_literals;
    using Clock = ChangeConfirmation::Clock;
    // Probe k (from 1) goes at 250 + 500 (k - 1) ms with search ID 100 + k;
    // the request before the change had 100. A reply answers the latest
    // probe before it arrives, unless it names another (kBefore: the request
    // before the change).
    constexpr int kLatest = -1;
    constexpr int kBefore = 0;
    struct Timed {
        int ms;  // after the change
        AcceptedReply reply;
        int probe = kLatest;
    };
    struct Case {
        const char* name;
        AddressingMode mode;
        std::vector<Timed> replies;
        ConfirmationVerdict verdict;
        int waitedMs;  // when it ended
        const char* text;
        // What the camera reported before; its IP empty: nothing known.
        ReportedSettings before{"10.0.0.7", "255.255.255.0", "192.168.1.1", "00:1A:2B:3C:4D:5E"};
        std::vector<NeighbourEntry> neighbours = {};
    };
    const std::string ip = "10.77.1.9";
    const std::string old = "10.0.0.7";
    // The camera answering every probe with its old settings until its wait
    // is over, and the same with the third probe's answer lost.
    std::vector<Timed> stale;
    std::vector<Timed> staleButOne;
    for (int ms = 300; ms < 10000; ms += 500) {
        stale.push_back({ms, Answer(7, old, Values::Old)});
        if (ms != 1300) {
            staleButOne.push_back({ms, Answer(7, old, Values::Old)});
        }
    }
    // Another host answering first from the new address with the values
    // sent, the camera (which ignored the record) 50 ms later from its old one.
    std::vector<Timed> spoofedFirst;
    for (int ms = 300; ms < 10000; ms += 500) {
        spoofedFirst.push_back({ms, Answer(7, ip)});
        spoofedFirst.push_back({ms + 50, Answer(7, old, Values::Old)});
    }
    const ReportedSettings unknown{"", "", ""};
    const ReportedSettings sameValues{ip, "255.255.0.0", "10.77.0.1", "02:00:00:00:00:09"};
    const char* kTookOther = "Not confirmed: 0011aabb-00000007 did not take the change in 10 s";
    const char* kNoAnswer = "Not confirmed: 0011aabb-00000007 did not answer in 10 s";
    const char* kUnverifiable =
        "Unverifiable: 0011aabb-00000007: sent; the camera already reported these settings, so "
        "its answers cannot show that it took them";
    const std::vector<Case> cases = {
        {"static: the new values from the new address",
         AddressingMode::Static,
         {{1500, Answer(7, ip)}},
         ConfirmationVerdict::Confirmed,
         1750,
         "Confirmed: 0011aabb-00000007 at 10.77.1.9"},
        {"static: the new values in flight before the change",
         AddressingMode::Static,
         {{100, Answer(7, ip)}, {400, Answer(7, ip), kBefore}},
         ConfirmationVerdict::NotConfirmed,
         10000,
         kNoAnswer},
        {"static: its old answer, silence, then the new values",
         AddressingMode::Static,
         {{300, Answer(7, old, Values::Old)}, {1500, Answer(7, ip)}},
         ConfirmationVerdict::Confirmed,
         1750,
         "Confirmed: 0011aabb-00000007 at 10.77.1.9"},
        {"static: the same values as before",
         AddressingMode::Static,
         {{300, Answer(7, ip)}},
         ConfirmationVerdict::Unverifiable,
         0,
         kUnverifiable,
         sameValues},
        {"static: a mode change alone (its MAC not known)",
         AddressingMode::Static,
         {{300, Answer(7, ip)}},
         ConfirmationVerdict::Unverifiable,
         0,
         kUnverifiable,
         {ip, "255.255.0.0", "10.77.0.1"}},
        {"static: only the MAC changes",
         AddressingMode::Static,
         {{300, Answer(7, ip)}},
         ConfirmationVerdict::Confirmed,
         750,
         "Confirmed: 0011aabb-00000007 at 10.77.1.9",
         {ip, "255.255.0.0", "10.77.0.1", "00:1a:2b:3c:4d:5e"}},
        {"static: the old mask",
         AddressingMode::Static,
         {{1500, Answer(7, ip, Values::OldMask)}},
         ConfirmationVerdict::NotConfirmed,
         10000,
         "(it reports 10.77.1.9)"},
        {"static: the old gateway",
         AddressingMode::Static,
         {{1500, Answer(7, ip, Values::OldGateway)}},
         ConfirmationVerdict::NotConfirmed,
         10000,
         "(it reports 10.77.1.9)"},
        {"static: the old MAC",
         AddressingMode::Static,
         {{1500, Answer(7, ip, Values::OldMac)}},
         ConfirmationVerdict::NotConfirmed,
         10000,
         "(it reports 10.77.1.9)"},
        {"static: the new values from another address",
         AddressingMode::Static,
         {{1500, Answer(7, ip, Values::New, "10.9.9.9")}},
         ConfirmationVerdict::NotConfirmed,
         10000,
         "(it reports 10.77.1.9)"},
        {"static: another address that repeats its new values changes nothing",
         AddressingMode::Static,
         {{1500, Answer(7, ip, Values::New, "10.9.9.9")}, {1500, Answer(7, ip)}},
         ConfirmationVerdict::Confirmed,
         1750,
         "Confirmed: 0011aabb-00000007 at 10.77.1.9"},
        {"static: another device at the new address",
         AddressingMode::Static,
         {{1500, Answer(7, old, Values::Old)}, {1500, Answer(8, ip)}},
         ConfirmationVerdict::Conflict,
         1750,
         "Conflict: 0011aabb-00000007: 0011aabb-00000008 (MAC 02:00:00:00:00:09) answers at "
         "10.77.1.9"},
        {"static: another MAC answers with its ID",
         AddressingMode::Static,
         {{1500, Answer(7, ip, Values::OtherMac)}},
         ConfirmationVerdict::Conflict,
         1750,
         "Conflict: 0011aabb-00000007: another device (MAC 02:66:00:00:00:66) answers with its "
         "ID from 10.77.1.9"},
        {"static: the new values from a source of another link-layer address",
         AddressingMode::Static,
         {{1500, Answer(7, ip)}},
         ConfirmationVerdict::Conflict,
         1750,
         "Conflict: 0011aabb-00000007: its answer from 10.77.1.9 comes from link-layer address "
         "02:66:00:00:00:66, not 02:00:00:00:00:09",
         {old, "255.255.255.0", "192.168.1.1", "00:1a:2b:3c:4d:5e"},
         {{"10.77.1.9", 1, "02:66:00:00:00:66"}}},
        {"static: the link-layer address is the MAC reported",
         AddressingMode::Static,
         {{1500, Answer(7, ip)}},
         ConfirmationVerdict::Confirmed,
         1750,
         "Confirmed: 0011aabb-00000007 at 10.77.1.9",
         {old, "255.255.255.0", "192.168.1.1", "00:1a:2b:3c:4d:5e"},
         {{"10.77.1.9", 1, "02:00:00:00:00:09"}, {"10.0.0.7", 1, "02:66:00:00:00:66"}}},
        {"static: two addresses answer for it in one interval",
         AddressingMode::Static,
         {{400, Answer(7, old, Values::Old)}, {450, Answer(7, ip, Values::New, "10.9.9.9")}},
         ConfirmationVerdict::Conflict,
         750,
         "Conflict: 0011aabb-00000007 is answered for from 10.0.0.7 and 10.9.9.9 with "
         "different settings"},
        {"static: old then new address in one interval, then the new alone",
         AddressingMode::Static,
         {{400, Answer(7, old, Values::Old)}, {450, Answer(7, ip)}, {900, Answer(7, ip)}},
         ConfirmationVerdict::Confirmed,
         1250,
         "Confirmed: 0011aabb-00000007 at 10.77.1.9"},
        {"static: old and new address, and the old one still answers",
         AddressingMode::Static,
         {{400, Answer(7, old, Values::Old)},
          {450, Answer(7, ip)},
          {900, Answer(7, ip)},
          {950, Answer(7, old, Values::Old)}},
         ConfirmationVerdict::Conflict,
         1250,
         "Conflict: 0011aabb-00000007 is answered for from 10.0.0.7 and 10.77.1.9 with "
         "different settings"},
        {"static: a spoofer at the new address answers first", AddressingMode::Static, spoofedFirst,
         ConfirmationVerdict::Conflict, 1250,
         "Conflict: 0011aabb-00000007 is answered for from 10.0.0.7 and 10.77.1.9 with "
         "different settings"},
        {"static: no answer",
         AddressingMode::Static,
         {{100, Answer(7, old, Values::Old)}},
         ConfirmationVerdict::NotConfirmed,
         10000,
         kNoAnswer},
        {"dhcp: answers unchanged to every probe", AddressingMode::Dhcp, stale,
         ConfirmationVerdict::NotConfirmed, 10000, "(it reports 10.0.0.7)"},
        {"dhcp: one probe's answer lost", AddressingMode::Dhcp, staleButOne,
         ConfirmationVerdict::NotConfirmed, 10000, "(it reports 10.0.0.7)"},
        {"dhcp: silent for two intervals, then answered",
         AddressingMode::Dhcp,
         {{300, Answer(7, old, Values::Old)}, {1800, Answer(7, old, Values::Old)}},
         ConfirmationVerdict::Confirmed,
         2250,
         "Confirmed: 0011aabb-00000007 at 10.0.0.7"},
        {"dhcp: silent, then its answer from before the change replayed",
         AddressingMode::Dhcp,
         {{300, Answer(7, old, Values::Old)}, {1800, Answer(7, old, Values::Old), 1}},
         ConfirmationVerdict::NotConfirmed,
         10000,
         "(it reports 10.0.0.7)"},
        {"dhcp: no values known before, another address at once",
         AddressingMode::Dhcp,
         {{300, Answer(7, "10.77.3.3")}, {800, Answer(7, "10.77.3.3")}},
         ConfirmationVerdict::NotConfirmed,
         10000,
         "(it reports 10.77.3.3)",
         unknown},
        {"dhcp: no values known before, silent for two intervals, then answered",
         AddressingMode::Dhcp,
         {{1800, Answer(7, "10.77.3.3")}},
         ConfirmationVerdict::Confirmed,
         2250,
         "Confirmed: 0011aabb-00000007 at 10.77.3.3",
         unknown},
        {"dhcp: reports another address at once",
         AddressingMode::Dhcp,
         {{300, Answer(7, "10.77.3.3", Values::Old)}},
         ConfirmationVerdict::Confirmed,
         750,
         "Confirmed: 0011aabb-00000007 at 10.77.3.3"},
        {"dhcp: reports another gateway only",
         AddressingMode::Dhcp,
         {{300, Answer(7, old, Values::OldMask)}},
         ConfirmationVerdict::Confirmed,
         750,
         "Confirmed: 0011aabb-00000007 at 10.0.0.7"},
        {"dhcp: another address, but not from it",
         AddressingMode::Dhcp,
         {{300, Answer(7, "10.77.3.3", Values::Old, "10.9.9.9")}},
         ConfirmationVerdict::NotConfirmed,
         10000,
         "(it reports 10.77.3.3)"},
        {"adsl: an answer from before the first probe is not enough",
         AddressingMode::Adsl,
         {{100, Answer(7, "10.77.3.3", Values::Old)}},
         ConfirmationVerdict::NotConfirmed,
         10000,
         kNoAnswer},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ConfirmationOptions options;
        options.neighbours = [&c] { return c.neighbours; };
        ChangeConfirmation confirmation(options);
        const Clock::time_point t0{};
        std::vector<ConfirmationOutcome> outcomes;
        int probes = 0;
        if (const auto ended = confirmation.Add(ChangeFor(7, c.mode, ip), t0, c.before)) {
            outcomes.push_back(*ended);
        } else {
            EXPECT_EQ(confirmation.WaitingText(), "Confirming 0011aabb-00000007\u2026");
            EXPECT_EQ(confirmation.NextDue(), t0 + 250ms);
        }
        for (int ms = 0; ms <= 11000 && outcomes.empty(); ms += 50) {
            const Clock::time_point t = t0 + std::chrono::milliseconds(ms);
            std::vector<AcceptedReply> now;
            for (const Timed& timed : c.replies) {
                if (timed.ms == ms) {
                    now.push_back(timed.reply);
                    now.back().searchId = 100 + (timed.probe == kLatest ? probes : timed.probe);
                }
            }
            confirmation.Observe(now, t, outcomes);
            ChangeConfirmation::TickResult tick = confirmation.Tick(t);
            outcomes.insert(outcomes.end(), tick.ended.begin(), tick.ended.end());
            if (tick.probe) {
                ++probes;
                confirmation.ProbeSent(100 + probes, t, outcomes);
            }
        }
        ASSERT_EQ(outcomes.size(), 1u);
        EXPECT_EQ(outcomes[0].verdict, c.verdict);
        EXPECT_EQ(outcomes[0].confirmed, c.verdict == ConfirmationVerdict::Confirmed);
        const std::string text = ConfirmationText(outcomes[0]);
        EXPECT_TRUE(text == c.text || (text.rfind(kTookOther, 0) == 0 &&
                                       text.substr(std::string(kTookOther).size() + 1) == c.text))
            << text;
        EXPECT_EQ(outcomes[0].reply.has_value(), c.verdict == ConfirmationVerdict::Confirmed);
        EXPECT_EQ(outcomes[0].waited, std::chrono::milliseconds(c.waitedMs));
        EXPECT_EQ(confirmation.Pending(), 0u);
        EXPECT_FALSE(confirmation.NextDue().has_value());
    }
    EXPECT_EQ(SecondsText(2500ms), "2.5 s");
    EXPECT_EQ(SecondsText(250ms), "0.25 s");
}

TEST(ChangeConfirmationTest, ManyChangesShareOneProbeScheduleAndEndOneByOne) {
    using namespace std::chrono_literals;
    const ChangeConfirmation::Clock::time_point t0{};
    // Two confirmations (two runs of one window) share one schedule.
    ProbeSchedule schedule;
    ChangeConfirmation confirmation({}, &schedule);
    ChangeConfirmation other({}, &schedule);
    constexpr std::uint32_t kChanges = 500;
    const auto ipOf = [](std::uint32_t n) {
        return "10.77." + std::to_string(n / 250) + "." + std::to_string(n % 250 + 1);
    };
    for (std::uint32_t n = 0; n < kChanges; ++n) {
        EXPECT_FALSE(confirmation.Add(ChangeFor(n, AddressingMode::Static, ipOf(n)), t0 + n * 1ms)
                         .has_value());
    }
    EXPECT_EQ(confirmation.WaitingText(), "Confirming 500 changes\u2026");

    // Every camera but one answers the probe before 2 s, with every reply
    // twice; camera 3 answers with the values of the newer change; the other
    // run's camera too.
    std::vector<AcceptedReply> replies;
    for (std::uint32_t n = 0; n + 1 < kChanges; ++n) {
        replies.push_back(Answer(n, n == 3 ? "10.78.3.3" : ipOf(n)));
        replies.push_back(replies.back());
    }
    replies.push_back(Answer(kChanges, "10.77.8.8"));
    int probes = 0;
    std::vector<ConfirmationOutcome> confirmed;
    std::vector<ConfirmationOutcome> expired;
    std::vector<ConfirmationOutcome> otherEnded;
    for (auto t = t0; t <= t0 + 11s; t += 50ms) {
        if (t == t0 + 100ms) {
            other.Add(ChangeFor(kChanges, AddressingMode::Static, "10.77.8.8"), t);
        }
        if (t == t0 + 600ms) {
            // A newer change for a pending camera replaces the older one.
            confirmation.Add(ChangeFor(3, AddressingMode::Static, "10.78.3.3"), t);
            EXPECT_EQ(confirmation.Pending(), kChanges);
        }
        // The first confirmation sends the probes; the other only follows.
        ChangeConfirmation::TickResult tick = confirmation.Tick(t);
        for (ConfirmationOutcome& outcome : tick.ended) {
            (outcome.confirmed ? confirmed : expired).push_back(outcome);
        }
        if (tick.probe) {
            ++probes;
            confirmation.ProbeSent(static_cast<std::uint32_t>(probes), t, confirmed);
        }
        ChangeConfirmation::TickResult followed = other.Tick(t);
        EXPECT_FALSE(followed.probe);
        otherEnded.insert(otherEnded.end(), followed.ended.begin(), followed.ended.end());
        if (t == t0 + 2s) {
            for (AcceptedReply& reply : replies) {
                reply.searchId = static_cast<std::uint32_t>(probes);
            }
            confirmation.Observe(replies, t, confirmed);
            other.Observe(replies, t, otherEnded);
        }
    }
    EXPECT_EQ(confirmed.size(), kChanges - 1);
    ASSERT_EQ(expired.size(), 1u);
    EXPECT_EQ(expired[0].deviceId, "0011aabb-000001f3");
    ASSERT_EQ(otherEnded.size(), 1u);
    EXPECT_TRUE(otherEnded[0].confirmed);
    // One schedule for all: a probe at 0.25 s, then every 0.5 s until the
    // last change ends (10.499 s), as for a single change made then.
    EXPECT_EQ(probes, 21);
}

}  // namespace
}  // namespace qdipc
