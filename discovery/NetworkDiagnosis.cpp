#include "discovery/NetworkDiagnosis.h"

#include <algorithm>
#include <array>

#include "discovery/CellText.h"
#include "discovery/DeviceCodecs.h"
#include "platform/ShellQuote.h"

namespace qdipc {
namespace {

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

std::optional<std::uint32_t> ParseQuad(const std::string& text) {
    std::uint32_t value = 0;
    int parts = 0;
    std::size_t at = 0;
    while (parts < 4) {
        std::size_t end = at;
        std::uint32_t part = 0;
        while (end < text.size() && text[end] >= '0' && text[end] <= '9' && end - at < 3) {
            part = part * 10 + static_cast<std::uint32_t>(text[end] - '0');
            ++end;
        }
        if (end == at || part > 255) {
            return std::nullopt;
        }
        value = (value << 8) | part;
        ++parts;
        if (parts < 4) {
            if (end >= text.size() || text[end] != '.') {
                return std::nullopt;
            }
            ++end;
        } else if (end != text.size()) {
            return std::nullopt;
        }
        at = end;
    }
    return value;
}

std::string Quad(std::uint32_t value) {
    return std::to_string(value >> 24) + "." + std::to_string((value >> 16) & 255) + "." +
           std::to_string((value >> 8) & 255) + "." + std::to_string(value & 255);
}

// "10.1.2.0/24" for an address and its netmask; "" when they do not parse.
std::string Subnet(const InterfaceLink::Address& address) {
    const auto ip = ParseQuad(address.address);
    const auto mask = ParseQuad(address.netmask);
    if (!ip || !mask) {
        return {};
    }
    // A mask with a zero between its ones has no prefix length: it is
    // written out.
    const auto prefix = MaskPrefixLength(*mask);
    return Quad(*ip & *mask) + "/" + (prefix ? std::to_string(*prefix) : Quad(*mask));
}

std::string Joined(const std::vector<std::string>& items, const char* separator = ", ") {
    std::string text;
    for (const std::string& item : items) {
        text += (text.empty() ? "" : separator) + item;
    }
    return text;
}

std::string Plural(std::uint64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// An interface the search sends on: up, broadcast-capable, not a loopback,
// with an IPv4 address.
bool SendsOn(const InterfaceLink& link) {
    return link.up && link.broadcast && !link.loopback && !link.ipv4.empty();
}

std::vector<const InterfaceLink*> SearchInterfaces(const std::vector<InterfaceLink>& links) {
    std::vector<const InterfaceLink*> found;
    for (const InterfaceLink& link : links) {
        if (SendsOn(link)) {
            found.push_back(&link);
        }
    }
    return found;
}

std::string Described(const InterfaceLink& link) {
    std::vector<std::string> addresses;
    for (const auto& address : link.ipv4) {
        const std::string subnet = Subnet(address);
        addresses.push_back(address.address +
                            (subnet.empty() ? "" : "/" + subnet.substr(subnet.find('/') + 1)));
    }
    return link.name + " (" + Joined(addresses) + ")";
}

DiagnosisLine Line(const char* check, CheckResult result, std::string finding,
                   std::string fix = {}) {
    return {check, result, std::move(finding), std::move(fix)};
}

// The command that brings an interface up, its name quoted; on Windows the
// step in the control panel where the name cannot be quoted for cmd.
std::string EnableCommand(const std::string& name) {
    if (!kWindows) {
        return "sudo ip link set " + ShellQuoted(name) + " up";
    }
    if (const auto quoted = CmdQuoted(name)) {
        return "netsh interface set interface name=" + *quoted + " admin=enabled";
    }
    return "enable the adapter " + name + " (ncpa.cpl)";
}

DiagnosisLine InterfacesCheck(const HostFacts& host) {
    if (!host.links) {
        return Line("interfaces", CheckResult::NotChecked,
                    "the system did not list its interfaces");
    }
    const auto used = SearchInterfaces(*host.links);
    if (!used.empty()) {
        std::vector<std::string> names;
        for (const InterfaceLink* link : used) {
            names.push_back(Described(*link));
        }
        return Line("interfaces", CheckResult::Ok,
                    "the search goes out on " + Plural(used.size(), "interface", "interfaces") +
                        ": " + Joined(names));
    }
    // Which interface could carry it: one that is down, or one without an address.
    std::vector<std::string> down;
    std::vector<std::string> noAddress;
    for (const InterfaceLink& link : *host.links) {
        if (link.loopback || !link.broadcast) {
            continue;
        }
        if (!link.up) {
            down.push_back(link.name);
        } else if (link.ipv4.empty()) {
            noAddress.push_back(link.name);
        }
    }
    std::string fix;
    if (!down.empty()) {
        fix = EnableCommand(down.front());
    } else if (!noAddress.empty()) {
        fix = "give " + noAddress.front() +
              " an IPv4 address in the cameras' subnet (or turn on DHCP for it)";
    } else {
        fix = "connect this PC to the cameras' network (an Ethernet adapter with an IPv4 address)";
    }
    std::string finding = "no interface is up with an IPv4 address and broadcast";
    if (!down.empty()) {
        finding += "; down: " + Joined(down);
    }
    if (!noAddress.empty()) {
        finding += "; up without an IPv4 address: " + Joined(noAddress);
    }
    return Line("interfaces", CheckResult::Problem, finding, fix);
}

DiagnosisLine LinkCheck(const HostFacts& host) {
    if (!host.links) {
        return Line("link", CheckResult::NotChecked, "the system did not list its interfaces");
    }
    // An unused port without an address (the Ethernet socket of a laptop on
    // Wi-Fi, a Bluetooth adapter) counts only when nothing else has a link.
    const auto used = SearchInterfaces(*host.links);
    const bool anyLinked = std::any_of(used.begin(), used.end(), [](const InterfaceLink* link) {
        return link->carrier == std::optional<bool>(true);
    });
    std::vector<std::string> without;
    bool known = false;
    for (const InterfaceLink& link : *host.links) {
        // A bridge has a carrier only while one of its ports has one; an
        // empty one (docker0, virbr0) is no cable that is out.
        if (!link.up || link.loopback || !link.broadcast || link.bridge || !link.carrier) {
            continue;
        }
        known = true;
        if (!*link.carrier && (!link.ipv4.empty() || !anyLinked)) {
            without.push_back(link.name);
        }
    }
    if (!without.empty()) {
        return Line("link", CheckResult::Problem,
                    Joined(without) + (without.size() == 1 ? " is" : " are") +
                        " up but without a link (no carrier): a cable is out, the switch is "
                        "off, or Wi-Fi is not connected",
                    "plug the cable of " + without.front() +
                        " into the cameras' switch (and check that its port light is on)");
    }
    if (!known) {
        return Line("link", CheckResult::NotChecked, "no interface's link state is known");
    }
    return Line("link", CheckResult::Ok, "every interface in use has a link");
}

DiagnosisLine WifiCheck(const HostFacts& host) {
    if (!host.links) {
        return Line("wifi", CheckResult::NotChecked, "the system did not list its interfaces");
    }
    std::vector<std::string> wireless;
    std::vector<std::string> wired;
    for (const InterfaceLink* link : SearchInterfaces(*host.links)) {
        if (link->carrier == std::optional<bool>(false)) {
            continue;
        }
        (link->wireless ? wireless : wired).push_back(link->name);
    }
    if (!wireless.empty() && wired.empty()) {
        return Line("wifi", CheckResult::Problem,
                    "the cameras can be reached only over Wi-Fi (" + Joined(wireless) +
                        "): many access points do not pass broadcasts between their clients",
                    "connect this PC to the cameras' switch with a cable (or turn off client "
                    "isolation on the access point)");
    }
    if (wired.empty()) {
        return Line("wifi", CheckResult::Ok, "no Wi-Fi interface is in use");
    }
    return Line("wifi", CheckResult::Ok, "a wired interface is up: " + Joined(wired));
}

DiagnosisLine PortCheck(const HostFacts& host, const SearchFacts& search) {
    const std::string port = "UDP port " + std::to_string(host.port);
    if (!host.portOwners.owners.empty()) {
        const PortOwner& first = host.portOwners.owners.front();
        std::string fix;
        if (first.pid != 0) {
            fix = "end " + (first.program.empty() ? std::string("that program") : first.program) +
                  (kWindows ? " (taskkill /PID " : " (kill ") + std::to_string(first.pid) +
                  "), then search again";
        } else {
            fix =
                kWindows
                    ? "find it with: netstat -abno -p UDP | findstr :" + std::to_string(host.port) +
                          " (as administrator), end it, then search again"
                    : "find it with: sudo ss -ulpn 'sport = :" + std::to_string(host.port) +
                          "', end it, then search again";
        }
        return Line("port", CheckResult::Problem,
                    port + " is held by " + PortOwnersText(host.portOwners.owners) +
                        ", so the cameras' replies go to it, not to this program",
                    fix);
    }
    if (!search.bound) {
        return Line("port", CheckResult::Problem,
                    port + " could not be bound (the system did not say who holds it)",
                    "end the other program that receives on " + port + ", then search again");
    }
    if (!host.portOwners.checked) {
        return Line("port", CheckResult::NotChecked,
                    "the system did not say which programs hold " + port);
    }
    return Line("port", CheckResult::Ok, "no other program holds " + port);
}

DiagnosisLine FirewallCheck(const char* check, const FirewallReading& reading) {
    switch (reading.verdict) {
        case FirewallVerdict::Inactive:
        case FirewallVerdict::Admits:
            return Line(check, CheckResult::Ok, reading.finding);
        case FirewallVerdict::Blocks:
            return Line(check, CheckResult::Problem, reading.finding, reading.fix);
        case FirewallVerdict::NotChecked:
            break;
    }
    return Line(check, CheckResult::NotChecked,
                reading.finding.empty() ? "not read" : reading.finding, reading.fix);
}

// How many of the search's reply sources lie outside every subnet of this
// PC; none when this PC's subnets are not known.
std::size_t SourcesOutside(const HostFacts& host, const SearchFacts& search) {
    static const std::vector<InterfaceLink> kNone;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> subnets;  // address, mask
    for (const InterfaceLink& link : host.links ? *host.links : kNone) {
        for (const auto& address : link.ipv4) {
            const auto ip = ParseQuad(address.address);
            const auto mask = ParseQuad(address.netmask);
            if (ip && mask && !link.loopback) {
                subnets.push_back({*ip, *mask});
            }
        }
    }
    if (subnets.empty()) {
        return 0;
    }
    return static_cast<std::size_t>(std::count_if(
        search.replySources.begin(), search.replySources.end(), [&](std::uint32_t source) {
            return std::none_of(subnets.begin(), subnets.end(), [&](const auto& subnet) {
                return (source & subnet.second) == (subnet.first & subnet.second);
            });
        }));
}

DiagnosisLine ReversePathCheck(const HostFacts& host, const SearchFacts& search) {
    if (!host.links) {
        return Line("rp_filter", CheckResult::NotChecked, "the system did not list its interfaces");
    }
    std::vector<std::string> strict;
    std::vector<std::string> subnets;
    std::vector<std::string> settings;
    bool known = false;
    for (const InterfaceLink* link : SearchInterfaces(*host.links)) {
        if (!link->rpFilter) {
            continue;
        }
        known = true;
        if (*link->rpFilter == 1) {
            strict.push_back(link->name);
            subnets.push_back(Subnet(link->ipv4.front()));
            // sysctl writes a dot in an interface's name (a VLAN: eth0.5) as '/'.
            std::string name = link->name;
            std::replace(name.begin(), name.end(), '.', '/');
            settings.push_back(ShellQuoted("net.ipv4.conf." + name + ".rp_filter=2"));
        }
    }
    const std::uint64_t drops = search.reversePathDrops.value_or(0);
    const std::size_t outside = search.searched ? SourcesOutside(host, search) : 0;
    // Strict filtering harms only replies from outside the interface's
    // subnet: it is a problem where it dropped something or where such a
    // camera answered; on a LAN whose cameras are all inside, it is not.
    if (!strict.empty() && (drops > 0 || outside > 0)) {
        const std::string seen =
            drops > 0
                ? "; it dropped " + Plural(drops, "datagram", "datagrams") + " during the search"
                : "; " + Plural(outside, "camera", "cameras") +
                      " answered from outside this PC's subnets";
        return Line("rp_filter", CheckResult::Problem,
                    "strict reverse-path filtering (rp_filter = 1) on " + Joined(strict) +
                        ": replies from cameras outside " + Joined(subnets, " or ") +
                        " are dropped unless this PC's route to them leaves through that "
                        "interface" +
                        seen,
                    "sudo sysctl -w " + Joined(settings, " "));
    }
    if (drops > 0) {
        return Line("rp_filter", CheckResult::Problem,
                    "reverse-path filtering dropped " + Plural(drops, "datagram", "datagrams") +
                        " during the search: replies from addresses this PC has no route to",
                    "give this PC a route to the cameras' subnet, or an address in it");
    }
    if (!strict.empty()) {
        return Line("rp_filter", search.searched ? CheckResult::Ok : CheckResult::NotChecked,
                    "strict reverse-path filtering (rp_filter = 1) on " + Joined(strict) +
                        (search.searched ? ": it dropped nothing during the search and every "
                                           "camera that answered is inside " +
                                               Joined(subnets, " or ")
                                         : ": whether it drops replies shows in a search"));
    }
    if (!known) {
        return Line("rp_filter", CheckResult::NotChecked,
                    kWindows ? "Windows has no reverse-path filter setting of this kind"
                             : "the reverse-path filter settings could not be read");
    }
    return Line("rp_filter", CheckResult::Ok, "no interface filters replies by their return path");
}

constexpr const char* kNoSearch = "no search was made";

const char* NoSearchText(const SearchFacts& search) {
    return search.bound ? kNoSearch : "no search: the receive port could not be bound";
}

DiagnosisLine RequestsCheck(const SearchFacts& search) {
    if (!search.searched) {
        return Line("requests", CheckResult::NotChecked, NoSearchText(search));
    }
    if (search.outcome == SearchOutcome::HostLookupFailed) {
        return Line("requests", CheckResult::Problem,
                    "the request was not sent: no interface to send it on",
                    "see the interfaces check");
    }
    if (!search.failedNetworks.empty()) {
        std::vector<std::string> names;
        for (const Ipv4Interface& network : search.failedNetworks) {
            names.push_back(network.name + " (" + network.address + ")");
        }
        return Line("requests", CheckResult::Problem,
                    "the request could not be sent on " + Joined(names),
                    "check that " + search.failedNetworks.front().name +
                        " is up and keeps its address, then search again");
    }
    return Line("requests", CheckResult::Ok, "the request went out on every interface");
}

DiagnosisLine RejectedCheck(const SearchFacts& search) {
    if (!search.searched) {
        return Line("rejected", CheckResult::NotChecked, NoSearchText(search));
    }
    const RejectTally& tally = search.rejected;
    if (tally.Total() == 0) {
        return Line("rejected", CheckResult::Ok, "nothing but replies arrived on the receive port");
    }
    std::vector<std::string> reasons;
    if (tally.wrongLength > 0) {
        reasons.push_back(std::to_string(tally.wrongLength) + " of a wrong length");
    }
    if (tally.otherSearch > 0) {
        reasons.push_back(std::to_string(tally.otherSearch) + " not carrying this search's ID");
    }
    if (tally.noSignature > 0) {
        reasons.push_back(std::to_string(tally.noSignature) + " without the reply signature");
    }
    std::vector<std::string> senders;
    for (const RejectTally::Sender& sender : tally.senders) {
        senders.push_back((sender.address == 0 ? std::string("unknown") : Quad(sender.address)) +
                          " (" + std::to_string(sender.count) + ")");
    }
    if (tally.otherSenders > 0) {
        senders.push_back("others (" + std::to_string(tally.otherSenders) + ")");
    }
    return Line("rejected", CheckResult::Problem,
                Plural(tally.Total(), "datagram", "datagrams") +
                    " arrived on the receive port but were no reply to this search (" +
                    Joined(reasons) + "); from " + Joined(senders),
                "find what sends them from " +
                    (tally.senders.empty() || tally.senders.front().address == 0
                         ? std::string("those addresses")
                         : Quad(tally.senders.front().address)) +
                    ": another search tool running at the same time, or a program or device "
                    "that uses this port");
}

// problemsAbove: an earlier check found a problem, which the fix may point to.
DiagnosisLine RepliesCheck(const HostFacts& host, const SearchFacts& search, bool problemsAbove) {
    if (!search.searched) {
        return Line("replies", CheckResult::NotChecked, NoSearchText(search));
    }
    if (search.cameras == 0) {
        return Line("replies", CheckResult::Problem, "no camera answered the search",
                    std::string("check the cameras' power and cables and the switch between "
                                "them and this PC") +
                        (problemsAbove ? ", and fix the problems above" : ""));
    }
    // A reply from outside every subnet of this PC comes from a camera it
    // cannot reach until one of them changes its address.
    const auto& sources = search.replySources;
    if (!sources.empty() && SourcesOutside(host, search) == sources.size()) {
        return Line("replies", CheckResult::Problem,
                    "only cameras outside this PC's subnets answered (" +
                        Plural(static_cast<std::uint64_t>(search.cameras), "camera", "cameras") +
                        ", from " + Quad(sources.front()) +
                        (sources.size() > 1 ? " and others" : "") +
                        "): they are listed but cannot be previewed or opened",
                    "give them addresses in this PC's subnet (row menu: Assign Addresses…), "
                    "or give this PC an address in theirs");
    }
    return Line(
        "replies", CheckResult::Ok,
        Plural(static_cast<std::uint64_t>(search.cameras), "camera", "cameras") + " answered");
}

}  // namespace

const char* CheckResultName(CheckResult result) {
    switch (result) {
        case CheckResult::Ok:
            return "ok";
        case CheckResult::Problem:
            return "problem";
        case CheckResult::NotChecked:
            break;
    }
    return "not_checked";
}

HostFacts GatherHostFacts(std::uint16_t port) {
    HostFacts facts;
    facts.port = port;
    facts.links = ListInterfaceLinks();
    facts.portOwners = UdpPortOwners(port);
    std::vector<std::string> names;
    if (facts.links) {
        for (const InterfaceLink* link : SearchInterfaces(*facts.links)) {
            names.push_back(link->name);
        }
    }
    facts.firewalls = ReadHostFirewalls(names, port);
    return facts;
}

std::vector<DiagnosisLine> Diagnose(const HostFacts& host, const SearchFacts& search) {
    std::vector<DiagnosisLine> lines = {
        InterfacesCheck(host),
        LinkCheck(host),
        WifiCheck(host),
        PortCheck(host, search),
        FirewallCheck("firewalld", host.firewalls.firewalld),
        FirewallCheck("ufw", host.firewalls.ufw),
        FirewallCheck(kNetfilterCheckName, host.firewalls.netfilter),
        ReversePathCheck(host, search),
        RequestsCheck(search),
        RejectedCheck(search)};
    // The last line's advice fits what the checks above it found.
    const bool problemsAbove = HasProblem(lines);
    lines.push_back(RepliesCheck(host, search, problemsAbove));
    return lines;
}

void SearchFacts::NoteReplySource(std::uint32_t address) {
    if (address != 0 && replySources.size() < kMaxReplySources &&
        std::find(replySources.begin(), replySources.end(), address) == replySources.end()) {
        replySources.push_back(address);
    }
}

bool HasProblem(const std::vector<DiagnosisLine>& lines) {
    return std::any_of(lines.begin(), lines.end(), [](const DiagnosisLine& line) {
        return line.result == CheckResult::Problem;
    });
}

std::string DiagnosisText(const std::vector<DiagnosisLine>& lines) {
    std::string text = "check\tresult\tfinding\tfix\n";
    for (const DiagnosisLine& line : lines) {
        text += EscapeControls(line.check) + "\t" + CheckResultName(line.result) + "\t" +
                EscapeControls(line.finding) + "\t" + EscapeControls(line.fix) + "\n";
    }
    return text;
}

}  // namespace qdipc
