// Linux: firewalld (running when a process named "firewalld" exists; its
// zones from /etc/firewalld, falling back to /usr/lib/firewalld), ufw
// (/etc/ufw/ufw.conf, /etc/default/ufw, /etc/ufw/user.rules when readable)
// and, as root only, the nftables ruleset of this network namespace
// (`nft -j list ruleset`, which never asks for anything). Nothing here
// changes a firewall, and no tool that could ask for a password is started:
// firewall-cmd and ufw are not run at all.

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/FirewallState.h"
#include "platform/ShellQuote.h"

namespace qdipc {
namespace {

constexpr const char* kServiceName = "qd-ip-search";

std::optional<std::string> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool ProcessRunning(std::string_view comm) {
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        return false;
    }
    bool found = false;
    while (const dirent* entry = ::readdir(proc)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') {
            continue;
        }
        const auto name = ReadFile(std::string("/proc/") + entry->d_name + "/comm");
        if (name && std::string_view(*name).substr(0, name->find('\n')) == comm) {
            found = true;
            break;
        }
    }
    ::closedir(proc);
    return found;
}

// The value of attribute name in the XML element text ("<port port=... />").
std::optional<std::string> Attribute(std::string_view element, std::string_view name) {
    const std::string key = " " + std::string(name) + "=";
    const auto at = element.find(key);
    if (at == std::string_view::npos || at + key.size() >= element.size()) {
        return std::nullopt;
    }
    const char quote = element[at + key.size()];
    if (quote != '"' && quote != '\'') {
        return std::nullopt;
    }
    const auto start = at + key.size() + 1;
    const auto end = element.find(quote, start);
    if (end == std::string_view::npos) {
        return std::nullopt;
    }
    return std::string(element.substr(start, end - start));
}

// Every element of the given tag name in an XML text, as its start tag's text.
std::vector<std::string_view> Elements(std::string_view xml, std::string_view tag) {
    std::vector<std::string_view> found;
    const std::string open = "<" + std::string(tag);
    for (std::size_t at = xml.find(open); at != std::string_view::npos;
         at = xml.find(open, at + 1)) {
        const std::size_t after = at + open.size();
        if (after < xml.size() && xml[after] != ' ' && xml[after] != '\t' && xml[after] != '\n' &&
            xml[after] != '>' && xml[after] != '/') {
            continue;  // a longer tag name
        }
        const auto end = xml.find('>', after);
        if (end == std::string_view::npos) {
            break;
        }
        found.push_back(xml.substr(at, end - at + 1));
    }
    return found;
}

// Whether a port text ("8089", "8000-9000", "8000:9000", "80,8089") holds port.
bool PortTextHolds(std::string_view text, std::uint16_t port) {
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        const std::string_view part = text.substr(at, comma - at);
        const std::size_t dash = part.find_first_of("-:");
        const auto number = [](std::string_view digits) -> long {
            if (digits.empty() || digits.size() > 5) {
                return -1;
            }
            long value = 0;
            for (char c : digits) {
                if (c < '0' || c > '9') {
                    return -1;
                }
                value = value * 10 + (c - '0');
            }
            return value;
        };
        const long low = number(part.substr(0, dash));
        const long high = dash == std::string_view::npos ? low : number(part.substr(dash + 1));
        if (low >= 0 && high >= low && port >= low && port <= high) {
            return true;
        }
        at = comma + 1;
    }
    return false;
}

// Runs argv without a shell, its standard input and error on the null
// device, and returns its standard output when it exits with 0 within the
// time limit; it is killed when it does not.
std::optional<std::string> RunCaptured(const std::vector<std::string>& argv,
                                       std::chrono::milliseconds limit) {
    std::vector<char*> args;
    for (const auto& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return std::nullopt;
    }
    if (child == 0) {
        const int devNull = ::open("/dev/null", O_RDWR);
        ::dup2(devNull, STDIN_FILENO);
        ::dup2(devNull, STDERR_FILENO);
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    std::string output;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool timedOut = false;
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd wait{pipeFds[0], POLLIN, 0};
        const int ready = ::poll(&wait, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            timedOut = ready == 0;
            break;
        }
        char chunk[4096];
        const ssize_t got = ::read(pipeFds[0], chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        output.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(pipeFds[0]);
    if (timedOut) {
        ::kill(child, SIGKILL);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (timedOut || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return std::nullopt;
    }
    return output;
}

FirewallReading ReadFirewalld(const std::vector<std::string>& interfaceNames, std::uint16_t port) {
    if (!ProcessRunning("firewalld")) {
        return {FirewallVerdict::Inactive, "firewalld is not running", ""};
    }
    const auto zoneText = [](const std::string& zone) {
        auto text = ReadFile("/etc/firewalld/zones/" + zone + ".xml");
        return text ? text : ReadFile("/usr/lib/firewalld/zones/" + zone + ".xml");
    };
    std::string defaultZone = "public";
    if (const auto conf = ReadFile("/etc/firewalld/firewalld.conf")) {
        if (auto value = ConfigValue(*conf, "DefaultZone"); value && !value->empty()) {
            defaultZone = *value;
        }
    }
    // The zones that name an interface; every other one is in the default zone.
    std::map<std::string, std::string> zoneOf;
    if (DIR* zones = ::opendir("/etc/firewalld/zones")) {
        while (const dirent* entry = ::readdir(zones)) {
            const std::string file = entry->d_name;
            if (file.size() <= 4 || file.compare(file.size() - 4, 4, ".xml") != 0) {
                continue;
            }
            if (const auto text = ReadFile("/etc/firewalld/zones/" + file)) {
                for (const std::string& name : FirewalldZoneInterfaces(*text)) {
                    zoneOf[name] = file.substr(0, file.size() - 4);
                }
            }
        }
        ::closedir(zones);
    }
    const bool haveService =
        ReadFile(std::string("/usr/lib/firewalld/services/") + kServiceName + ".xml").has_value() ||
        ReadFile(std::string("/etc/firewalld/services/") + kServiceName + ".xml").has_value();
    std::vector<std::string> closed;  // "zone (interface)"
    std::string firstZone;
    for (const std::string& name : interfaceNames) {
        const auto found = zoneOf.find(name);
        const std::string zone = found != zoneOf.end() ? found->second : defaultZone;
        const auto text = zoneText(zone);
        if (!text || !FirewalldZoneAdmits(*text, port, kServiceName)) {
            closed.push_back("'" + zone + "' of " + name);
            if (firstZone.empty()) {
                firstZone = zone;
            }
        }
    }
    const std::string portText = std::to_string(port) + "/udp";
    if (closed.empty()) {
        return {FirewallVerdict::Admits,
                "firewalld is running; the zones of the interfaces admit " + portText, ""};
    }
    std::string which;
    for (const std::string& entry : closed) {
        which += (which.empty() ? "" : ", ") + entry;
    }
    const std::string rule =
        haveService ? std::string("--add-service=") + kServiceName : "--add-port=" + portText;
    return {FirewallVerdict::Blocks,
            "firewalld is running and zone " + which + " admits neither the " + kServiceName +
                " service nor " + portText +
                " in its saved configuration, so the cameras' replies are dropped",
            "sudo firewall-cmd --permanent " + ShellQuoted("--zone=" + firstZone) + " " + rule +
                " && sudo firewall-cmd --reload"};
}

FirewallReading ReadUfw(std::uint16_t port) {
    const auto conf = ReadFile("/etc/ufw/ufw.conf");
    const auto enabled = conf ? ConfigValue(*conf, "ENABLED") : std::nullopt;
    if (!enabled || *enabled != "yes") {
        return {FirewallVerdict::Inactive, "ufw is not enabled", ""};
    }
    const std::string portText = std::to_string(port) + "/udp";
    const auto defaults = ReadFile("/etc/default/ufw");
    const auto policy = defaults ? ConfigValue(*defaults, "DEFAULT_INPUT_POLICY") : std::nullopt;
    if (policy && *policy == "ACCEPT") {
        return {FirewallVerdict::Admits, "ufw is enabled and admits every incoming datagram", ""};
    }
    const std::string fix =
        std::string("sudo ufw allow ") + kServiceName + "   (or: sudo ufw allow " + portText + ")";
    const auto rules = ReadFile("/etc/ufw/user.rules");
    if (!rules) {
        return {FirewallVerdict::Blocks,
                "ufw is enabled and drops incoming datagrams unless a rule admits them; its "
                "rules can only be read by root (check: sudo ufw status)",
                fix};
    }
    if (UfwRulesAdmit(*rules, port)) {
        return {FirewallVerdict::Admits, "ufw is enabled and a rule admits " + portText, ""};
    }
    return {
        FirewallVerdict::Blocks,
        "ufw is enabled and no rule admits " + portText + ", so the cameras' replies are dropped",
        fix};
}

FirewallReading ReadNetfilter(std::uint16_t port) {
    const char* nft = nullptr;
    for (const char* candidate : {"/usr/sbin/nft", "/sbin/nft", "/usr/bin/nft"}) {
        if (::access(candidate, X_OK) == 0) {
            nft = candidate;
            break;
        }
    }
    if (nft == nullptr) {
        return {FirewallVerdict::NotChecked, "nft (nftables) is not installed", ""};
    }
    if (::geteuid() != 0) {
        return {FirewallVerdict::NotChecked, "only root may list the nftables rules",
                "sudo nft list ruleset | grep -n 'dport'"};
    }
    const auto json = RunCaptured({nft, "-j", "list", "ruleset"}, std::chrono::milliseconds(3000));
    if (!json) {
        return {FirewallVerdict::NotChecked, "nft -j list ruleset gave no answer", ""};
    }
    return NftRulesetReading(*json, port);
}

// --- the nftables ruleset

using Json = nlohmann::json;

enum class Match { Yes, No, Unsure };

// Whether a match's right-hand side holds value (a number or a name).
Match Holds(const Json& right, const std::function<Match(const Json&)>& single) {
    // An anonymous set ({"set": [...]}) or a list of flags (ct state).
    const Json* items = right.is_array() ? &right : nullptr;
    if (right.is_object() && right.contains("set") && right["set"].is_array()) {
        items = &right["set"];
    }
    if (items != nullptr) {
        bool unsure = false;
        for (const Json& item : *items) {
            const Match m = Holds(item, single);
            if (m == Match::Yes) {
                return Match::Yes;
            }
            unsure = unsure || m == Match::Unsure;
        }
        return unsure ? Match::Unsure : Match::No;
    }
    if (right.is_object() && right.contains("range") && right["range"].is_array() &&
        right["range"].size() == 2) {
        return single(right);
    }
    return single(right);
}

Match PortMatch(const Json& right, std::uint16_t port) {
    return Holds(right, [port](const Json& item) {
        if (item.is_number_integer()) {
            return item.get<long>() == port ? Match::Yes : Match::No;
        }
        if (item.is_object() && item.contains("range")) {
            const Json& range = item["range"];
            if (range[0].is_number_integer() && range[1].is_number_integer()) {
                return range[0].get<long>() <= port && port <= range[1].get<long>() ? Match::Yes
                                                                                    : Match::No;
            }
        }
        return Match::Unsure;  // a named set, a variable
    });
}

Match ProtocolMatch(const Json& right) {
    return Holds(right, [](const Json& item) {
        if (item.is_string()) {
            return item.get<std::string>() == "udp" ? Match::Yes : Match::No;
        }
        if (item.is_number_integer()) {
            return item.get<long>() == 17 ? Match::Yes : Match::No;
        }
        return Match::Unsure;
    });
}

// Conntrack state of the replies: new (a reply to a broadcast is not tracked
// as part of the request's connection).
Match CtStateMatch(const Json& right) {
    return Holds(right, [](const Json& item) {
        if (item.is_string()) {
            return item.get<std::string>() == "new" ? Match::Yes : Match::No;
        }
        return Match::Unsure;
    });
}

Match EvaluateMatch(const Json& match, std::uint16_t port) {
    const Json& left = match.value("left", Json());
    const Json& right = match.value("right", Json());
    const std::string op = match.value("op", "==");
    Match result = Match::Unsure;
    if (left.contains("payload")) {
        const Json& payload = left["payload"];
        const std::string protocol = payload.value("protocol", "");
        const std::string field = payload.value("field", "");
        if ((protocol == "udp" || protocol == "th") && field == "dport") {
            result = PortMatch(right, port);
        } else if (protocol == "ip" && field == "protocol") {
            result = ProtocolMatch(right);
        } else if (protocol == "tcp" || protocol == "icmp" || protocol == "sctp" ||
                   protocol == "ip6" || protocol == "icmpv6") {
            result = Match::No;  // the datagram is UDP over IPv4
        }
    } else if (left.contains("meta")) {
        const std::string key = left["meta"].value("key", "");
        if (key == "l4proto") {
            result = ProtocolMatch(right);
        } else if (key == "nfproto") {
            result = Holds(right, [](const Json& item) {
                return item.is_string()
                           ? (item.get<std::string>() == "ipv4" ? Match::Yes : Match::No)
                           : Match::Unsure;
            });
        }
    } else if (left.contains("ct") && left["ct"].value("key", "") == "state") {
        result = CtStateMatch(right);
    }
    if (op == "!=" && result != Match::Unsure) {
        result = result == Match::Yes ? Match::No : Match::Yes;
    } else if (op != "==" && op != "in" && op != "!=") {
        result = Match::Unsure;
    }
    return result;
}

struct ChainKey {
    std::string family, table, name;
    bool operator<(const ChainKey& o) const {
        return std::tie(family, table, name) < std::tie(o.family, o.table, o.name);
    }
};

enum class Outcome { Accept, Drop, Fallthrough, Unsure };

struct RuleWalk {
    const std::map<ChainKey, std::vector<const Json*>>& rules;
    std::uint16_t port;
    std::string blockedBy;       // "chain C of table F T, rule handle H"
    bool maybeAccepted = false;  // passed an accept whose match could not be judged

    Outcome Walk(const ChainKey& chain, int depth) {
        if (depth > 8) {
            return Outcome::Unsure;
        }
        const auto found = rules.find(chain);
        if (found == rules.end()) {
            return Outcome::Fallthrough;
        }
        for (const Json* rule : found->second) {
            Match all = Match::Yes;
            for (const Json& expression : rule->value("expr", Json::array())) {
                if (expression.contains("match")) {
                    const Match m = EvaluateMatch(expression["match"], port);
                    if (m == Match::No) {
                        all = Match::No;
                        break;
                    }
                    if (m == Match::Unsure) {
                        all = Match::Unsure;
                    }
                    continue;
                }
                const bool verdictDrop =
                    expression.contains("drop") || expression.contains("reject");
                if (expression.contains("accept") || verdictDrop) {
                    if (all == Match::Yes) {
                        if (verdictDrop) {
                            blockedBy = "chain " + chain.name + " of table " + chain.family + " " +
                                        chain.table + ", rule handle " +
                                        std::to_string(rule->value("handle", 0));
                            return Outcome::Drop;
                        }
                        return Outcome::Accept;
                    }
                    if (all == Match::Unsure && verdictDrop) {
                        return Outcome::Unsure;  // may drop it: cannot tell
                    }
                    maybeAccepted = maybeAccepted || all == Match::Unsure;
                    break;  // an accept that may not apply: go on
                }
                if (expression.contains("jump") || expression.contains("goto")) {
                    const bool isGoto = expression.contains("goto");
                    const Json& target = isGoto ? expression["goto"] : expression["jump"];
                    if (all == Match::No) {
                        break;
                    }
                    const Outcome inner =
                        Walk({chain.family, chain.table, target.value("target", "")}, depth + 1);
                    if (inner == Outcome::Unsure) {
                        return Outcome::Unsure;
                    }
                    if (all == Match::Yes) {
                        if (inner != Outcome::Fallthrough) {
                            return inner;
                        }
                        if (isGoto) {
                            return Outcome::Fallthrough;  // a goto does not come back
                        }
                        break;
                    }
                    if (inner == Outcome::Drop) {
                        return Outcome::Unsure;  // may apply: cannot tell
                    }
                    break;
                }
                if (expression.contains("return")) {
                    if (all == Match::Yes) {
                        return Outcome::Fallthrough;
                    }
                    break;
                }
                // counter, log, limit, meta set ...: no verdict; go on.
                if (expression.contains("limit") || expression.contains("xt")) {
                    all = all == Match::No ? Match::No : Match::Unsure;
                }
            }
        }
        return Outcome::Fallthrough;
    }
};

}  // namespace

std::optional<std::string> ConfigValue(std::string_view text, std::string_view key) {
    std::size_t at = 0;
    std::optional<std::string> value;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        const auto first = line.find_first_not_of(" \t");
        if (first == std::string_view::npos || line[first] == '#') {
            continue;
        }
        line.remove_prefix(first);
        if (line.size() <= key.size() || line.substr(0, key.size()) != key ||
            line[key.size()] != '=') {
            continue;
        }
        std::string_view raw = line.substr(key.size() + 1);
        while (!raw.empty() && (raw.back() == ' ' || raw.back() == '\t' || raw.back() == '\r')) {
            raw.remove_suffix(1);
        }
        if (raw.size() >= 2 && (raw.front() == '"' || raw.front() == '\'') &&
            raw.back() == raw.front()) {
            raw = raw.substr(1, raw.size() - 2);
        }
        value = std::string(raw);  // the last assignment counts
    }
    return value;
}

std::vector<std::string> FirewalldZoneInterfaces(std::string_view zoneXml) {
    std::vector<std::string> names;
    for (std::string_view element : Elements(zoneXml, "interface")) {
        if (auto name = Attribute(element, "name")) {
            names.push_back(std::move(*name));
        }
    }
    return names;
}

bool FirewalldZoneAdmits(std::string_view zoneXml, std::uint16_t port, std::string_view service) {
    for (std::string_view element : Elements(zoneXml, "zone")) {
        if (Attribute(element, "target") == std::optional<std::string>("ACCEPT")) {
            return true;
        }
    }
    for (std::string_view element : Elements(zoneXml, "service")) {
        if (Attribute(element, "name") == std::optional<std::string>(service)) {
            return true;
        }
    }
    for (std::string_view element : Elements(zoneXml, "port")) {
        const auto protocol = Attribute(element, "protocol");
        const auto ports = Attribute(element, "port");
        if (protocol && *protocol == "udp" && ports && PortTextHolds(*ports, port)) {
            return true;
        }
    }
    return false;
}

bool UfwRulesAdmit(std::string_view userRules, std::uint16_t port) {
    // ### tuple ### ACTION PROTOCOL DPORT DST SPORT SRC [APP ...] DIRECTION
    std::istringstream lines{std::string(userRules)};
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string hashes, tuple, hashes2, action, protocol, dport;
        words >> hashes >> tuple >> hashes2 >> action >> protocol >> dport;
        if (hashes != "###" || tuple != "tuple" || hashes2 != "###") {
            continue;
        }
        std::vector<std::string> rest;
        for (std::string word; words >> word;) {
            rest.push_back(word);
        }
        const bool incoming = !rest.empty() && rest.back() == "in";
        if (action == "allow" && (protocol == "udp" || protocol == "any") && incoming &&
            (dport == "any" || PortTextHolds(dport, port))) {
            return true;
        }
    }
    return false;
}

FirewallReading NftRulesetReading(std::string_view json, std::uint16_t port) {
    const std::string portText = std::to_string(port) + "/udp";
    Json document = Json::parse(json.begin(), json.end(), nullptr, false);
    if (document.is_discarded() || !document.contains("nftables") ||
        !document["nftables"].is_array()) {
        return {FirewallVerdict::NotChecked, "the nftables ruleset could not be read", ""};
    }
    std::vector<std::pair<ChainKey, std::string>> baseChains;  // with their policy
    std::map<ChainKey, std::vector<const Json*>> rules;
    for (const Json& item : document["nftables"]) {
        if (item.contains("chain")) {
            const Json& chain = item["chain"];
            const std::string family = chain.value("family", "");
            const std::string hook = chain.value("hook", "");
            if ((family == "ip" || family == "inet") && (hook == "input" || hook == "prerouting") &&
                chain.value("type", "filter") == "filter") {
                baseChains.push_back({{family, chain.value("table", ""), chain.value("name", "")},
                                      chain.value("policy", "accept")});
            }
        } else if (item.contains("rule")) {
            const Json& rule = item["rule"];
            rules[{rule.value("family", ""), rule.value("table", ""), rule.value("chain", "")}]
                .push_back(&rule);
        }
    }
    bool unsure = false;
    for (const auto& [chain, policy] : baseChains) {
        RuleWalk walk{rules, port, {}};
        Outcome outcome = walk.Walk(chain, 0);
        if (outcome == Outcome::Fallthrough) {
            outcome = policy == "drop" ? Outcome::Drop : Outcome::Accept;
            if (outcome == Outcome::Drop) {
                walk.blockedBy = "the policy drop of chain " + chain.name + " of table " +
                                 chain.family + " " + chain.table + " (no rule admits it)";
            }
        }
        if (outcome == Outcome::Drop && walk.maybeAccepted) {
            outcome = Outcome::Unsure;  // an earlier accept may have let it in
        }
        if (outcome == Outcome::Drop) {
            return {FirewallVerdict::Blocks,
                    "an nftables rule drops " + portText + ": " + walk.blockedBy,
                    "sudo nft insert rule " + ShellQuoted(chain.family) + " " +
                        ShellQuoted(chain.table) + " " + ShellQuoted(chain.name) + " udp dport " +
                        std::to_string(port) + " accept"};
        }
        unsure = unsure || outcome == Outcome::Unsure;
    }
    if (unsure) {
        return {FirewallVerdict::NotChecked,
                "an nftables rule may drop " + portText + " (a match this program cannot judge)",
                "sudo nft list ruleset"};
    }
    return {FirewallVerdict::Admits, "the nftables ruleset admits " + portText, ""};
}

HostFirewallReadings ReadHostFirewalls(const std::vector<std::string>& interfaceNames,
                                       std::uint16_t port) {
    HostFirewallReadings readings;
    readings.firewalld = ReadFirewalld(interfaceNames, port);
    readings.ufw = ReadUfw(port);
    readings.netfilter = ReadNetfilter(port);
    return readings;
}

}  // namespace qdipc
