#include "discovery/OnvifDiagnosis.h"

#include <string>
#include <utility>

namespace qdipc {
namespace {

DiagnosisLine Line(CheckResult result, std::string finding, std::string fix = {}) {
    return {"onvif_probes", result, std::move(finding), std::move(fix)};
}

// The command that admits the devices' answers (UDP from port 3702) in a
// firewall that drops them.
std::string AnswerFix(const char* firewall) {
    const std::string name = firewall;
    if (name == "firewalld") {
        return "firewall-cmd --add-rich-rule='rule family=\"ipv4\" source-port port=\"3702\" "
               "protocol=\"udp\" accept'";
    }
    if (name == "ufw") {
        return "ufw allow proto udp from any port 3702";
    }
#ifdef _WIN32
    return "netsh advfirewall firewall add rule name=\"ONVIF discovery replies\" dir=in "
           "action=allow protocol=UDP remoteport=3702";
#else
    return "nft insert rule inet filter input udp sport 3702 accept (in the chain that drops)";
#endif
}

}  // namespace

std::vector<DiagnosisLine> DiagnoseOnvif(const OnvifFacts& facts) {
    std::vector<DiagnosisLine> lines;
    if (!facts.probed) {
        lines.push_back(Line(CheckResult::NotChecked, "no ONVIF probe ran"));
        return lines;
    }
    if (facts.interfaces.empty()) {
        lines.push_back(Line(CheckResult::NotChecked, "no interface to probe from"));
    }
    for (const OnvifInterfaceCount& count : facts.interfaces) {
        const std::string where = count.network.name + " (" + count.network.address + ")";
        if (count.probesSent == 0) {
            lines.push_back(Line(CheckResult::Problem, "no ONVIF probe could be sent from " + where,
                                 "check that " + count.network.name +
                                     " is up and may send multicast to 239.255.255.250"));
            continue;
        }
        lines.push_back(Line(CheckResult::Ok,
                             std::to_string(count.probesSent) + " ONVIF probes sent from " + where +
                                 ", " + std::to_string(count.datagrams) + " answers received, " +
                                 std::to_string(count.accepted) + " accepted"));
    }
    const std::string port = "UDP port " + std::to_string(facts.replyPort);
    const std::pair<const char*, const FirewallReading*> readings[] = {
        {"firewalld", &facts.firewalls.firewalld},
        {"ufw", &facts.firewalls.ufw},
        {kNetfilterCheckName, &facts.firewalls.netfilter}};
    bool checked = false;
    for (const auto& [name, reading] : readings) {
        if (reading->verdict == FirewallVerdict::Blocks) {
            lines.push_back({"onvif_replies", CheckResult::Problem,
                             std::string(name) + " drops " + port +
                                 ", where ONVIF devices answer the probes (unicast from port "
                                 "3702): " +
                                 reading->finding,
                             AnswerFix(name)});
            return lines;
        }
        checked = checked || reading->verdict != FirewallVerdict::NotChecked;
    }
    lines.push_back({"onvif_replies", checked ? CheckResult::Ok : CheckResult::NotChecked,
                     checked ? "no firewall drops the answers to " + port
                             : "the firewalls could not be read for " + port,
                     ""});
    return lines;
}

}  // namespace qdipc
