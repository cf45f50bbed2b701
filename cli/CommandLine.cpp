#include "cli/CommandLine.h"

#include "cli/BatchCommand.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <utility>

#include "discovery/CellText.h"
#include "settings/NetSettingsRecord.h"
#include "settings/SettingsValidation.h"

namespace qdipc {
namespace {

// A text field of the settings record keeps room for its terminating zero.
constexpr std::size_t kMaxFieldText = record::kTextFieldSize - 1;

enum class Option {
    NoFirewall,
    List,
    Wait,
    Format,
    Interface,
    Modify,
    Ip,
    Mask,
    Gateway,
    Mac,
    Mode,
    VerifyWait,
    Help,
    Version,
};

enum class Group { Any, List, Modify };

struct OptionInfo {
    std::string_view name;
    Option option;
    bool takesValue;
    Group group;  // the mode an option belongs to
};

constexpr std::array<OptionInfo, 16> kOptions = {{
    {"--no-firewall", Option::NoFirewall, false, Group::Any},
    {"--list", Option::List, false, Group::Any},
    {"--wait", Option::Wait, true, Group::List},
    {"--format", Option::Format, true, Group::List},
    {"--interface", Option::Interface, true, Group::List},
    {"--modify", Option::Modify, true, Group::Any},
    {"--ip", Option::Ip, true, Group::Modify},
    {"--mask", Option::Mask, true, Group::Modify},
    {"--gateway", Option::Gateway, true, Group::Modify},
    {"--mac", Option::Mac, true, Group::Modify},
    {"--mode", Option::Mode, true, Group::Modify},
    {"--verify-wait", Option::VerifyWait, true, Group::Modify},
    {"--help", Option::Help, false, Group::Any},
    {"-h", Option::Help, false, Group::Any},
    {"--version", Option::Version, false, Group::Any},
    {"-V", Option::Version, false, Group::Any},
}};

// The options that hand the program to the command line when they come first.
constexpr std::array<std::string_view, 8> kVerbs = {
    "--list", "--modify", "--assign", "--plan", "--help", "-h", "--version", "-V",
};

// The values --format and --mode take.
constexpr std::array<std::pair<std::string_view, ListFormat>, 3> kFormats = {{
    {"tsv", ListFormat::Tsv},
    {"csv", ListFormat::Csv},
    {"json", ListFormat::Json},
}};
constexpr std::array<std::pair<std::string_view, AddressingMode>, 3> kModes = {{
    {"static", AddressingMode::Static},
    {"dhcp", AddressingMode::Dhcp},
    {"adsl", AddressingMode::Adsl},
}};

// The value named text in a table of names; nothing when none matches.
template <typename T, std::size_t N>
std::optional<T> Lookup(const std::array<std::pair<std::string_view, T>, N>& table,
                        std::string_view text) {
    for (const auto& [entryName, entryValue] : table) {
        if (entryName == text) {
            return entryValue;
        }
    }
    return std::nullopt;
}

bool IsHex(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

std::optional<int> ParseWait(std::string_view text) {
    if (text.empty() || text.size() > 7 || !std::all_of(text.begin(), text.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c)) != 0;
        })) {
        return std::nullopt;
    }
    int value = 0;
    for (char c : text) {
        value = value * 10 + (c - '0');
    }
    if (value > kMaxListWaitMs) {
        return std::nullopt;
    }
    return value;
}

// An argument echoed in a message, with its control characters as \xNN: a
// message must not carry a terminal escape typed or pasted into the
// arguments.
std::string Quoted(std::string_view text) {
    return "'" + EscapeControls(text) + "'";
}

CommandLine Fail(std::string message) {
    CommandLine result;
    result.mode = CommandMode::UsageError;
    result.error = std::move(message);
    return result;
}

}  // namespace

bool IsDeviceIdText(std::string_view text) {
    if (text.size() != 17 || text[8] != '-') {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i != 8 && !IsHex(text[i])) {
            return false;
        }
    }
    return true;
}

bool IsMacText(std::string_view text) {
    // Six groups of one or two hex digits, one separator kind throughout.
    char separator = 0;
    int groups = 0;
    std::size_t i = 0;
    while (true) {
        std::size_t digits = 0;
        while (i < text.size() && IsHex(text[i]) && digits < 3) {
            ++i;
            ++digits;
        }
        if (digits == 0 || digits > 2) {
            return false;
        }
        ++groups;
        if (i == text.size()) {
            return groups == 6;
        }
        const char c = text[i];
        if ((c != ':' && c != '-') || (separator != 0 && c != separator) || groups == 6) {
            return false;
        }
        separator = c;
        ++i;
    }
}

bool IsCommandLineVerb(std::string_view argument) {
    const std::string_view name = argument.substr(0, argument.find('='));
    return std::find(kVerbs.begin(), kVerbs.end(), name) != kVerbs.end();
}

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    // --assign and --plan are verbs of their own: the first argument decides.
    if (!args.empty() &&
        (args[0] == "--assign" || args[0] == "--plan" || args[0].rfind("--plan=", 0) == 0)) {
        return ParseBatchCommandLine(args);
    }
    CommandLine result;
    if (args.empty() || !IsCommandLineVerb(args.front())) {
        // The window's command line, as a desktop or a user gives it (Qt's
        // -platform, -display, -style, -session ...): for the toolkit, not
        // for this parser. Only --no-firewall is the program's own.
        result.noFirewall = std::find(args.begin(), args.end(), "--no-firewall") != args.end();
        return result;
    }
    std::vector<Option> seen;
    bool help = false;
    bool version = false;
    bool list = false;
    bool modify = false;
    std::optional<std::string_view> listOption;    // first option that needs --list
    std::optional<std::string_view> modifyOption;  // first option that needs --modify

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.empty() || arg[0] != '-') {
            return Fail("unexpected argument " + Quoted(arg));
        }
        const std::size_t equals = arg.find('=');
        const std::string_view name = std::string_view(arg).substr(0, equals);
        const auto known = std::find_if(kOptions.begin(), kOptions.end(),
                                        [&](const OptionInfo& s) { return s.name == name; });
        if (known == kOptions.end()) {
            return Fail("unknown option " + Quoted(name));
        }
        if (std::find(seen.begin(), seen.end(), known->option) != seen.end()) {
            return Fail(std::string(name) + " is given twice");
        }
        seen.push_back(known->option);

        std::string value;
        if (known->takesValue) {
            if (equals != std::string::npos) {
                value = arg.substr(equals + 1);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                return Fail(std::string(name) + " needs a value");
            }
        } else if (equals != std::string::npos) {
            return Fail(std::string(name) + " takes no value");
        }
        if (known->group == Group::List && !listOption) {
            listOption = known->name;
        }
        if (known->group == Group::Modify && !modifyOption) {
            modifyOption = known->name;
        }

        switch (known->option) {
            case Option::NoFirewall:
                result.noFirewall = true;
                break;
            case Option::List:
                list = true;
                break;
            case Option::Wait: {
                const std::optional<int> wait = ParseWait(value);
                if (!wait) {
                    return Fail("--wait takes whole milliseconds from 0 to " +
                                std::to_string(kMaxListWaitMs) + ", not " + Quoted(value));
                }
                result.list.waitMs = *wait;
                break;
            }
            case Option::Format:
                if (const auto format = Lookup(kFormats, value)) {
                    result.list.format = *format;
                } else {
                    return Fail("--format is tsv, csv or json, not " + Quoted(value));
                }
                break;
            case Option::Interface:
                if (value.empty()) {
                    return Fail("--interface needs an interface name");
                }
                result.list.interfaceName = value;
                break;
            case Option::Modify:
                if (!IsDeviceIdText(value)) {
                    return Fail(
                        "--modify needs a device ID as the list shows it (8 hex pairs, "
                        "'-', 8 hex pairs, e.g. 0011aabb-0000ff01), not " +
                        Quoted(value));
                }
                modify = true;
                result.modify.deviceId = value;
                break;
            case Option::Ip:
            case Option::Mask:
            case Option::Gateway: {
                if (value.size() > kMaxFieldText) {
                    return Fail(std::string(name) + " " + Quoted(value) + " is longer than the " +
                                std::to_string(kMaxFieldText) + " characters its field holds");
                }
                std::string& target = known->option == Option::Ip     ? result.modify.ip
                                      : known->option == Option::Mask ? result.modify.mask
                                                                      : result.modify.gateway;
                target = value;
                break;
            }
            case Option::Mac:
                if (!IsMacText(value)) {
                    return Fail("--mac needs six hex pairs such as 00:1a:2b:3c:4d:5e, not " +
                                Quoted(value));
                }
                result.modify.mac = value;
                break;
            case Option::Mode:
                if (const auto mode = Lookup(kModes, value)) {
                    result.modify.mode = *mode;
                } else {
                    return Fail("--mode is static, dhcp or adsl, not " + Quoted(value));
                }
                break;
            case Option::VerifyWait: {
                const std::optional<int> wait = ParseWait(value);
                if (!wait) {
                    return Fail("--verify-wait takes whole milliseconds from 0 to " +
                                std::to_string(kMaxListWaitMs) + ", not " + Quoted(value));
                }
                result.modify.verifyWaitMs = *wait;
                break;
            }
            case Option::Help:
                help = true;
                break;
            case Option::Version:
                version = true;
                break;
        }
    }

    if (help) {
        result.mode = CommandMode::Help;
        return result;
    }
    if (version) {
        result.mode = CommandMode::Version;
        return result;
    }
    if (list && modify) {
        return Fail("--list and --modify cannot be used together");
    }
    if (listOption && !list) {
        return Fail(std::string(*listOption) + " belongs to --list");
    }
    if (modifyOption && !modify) {
        return Fail(std::string(*modifyOption) + " belongs to --modify");
    }
    if (modify) {
        for (const auto& [option, optionName] :
             {std::pair{Option::Ip, "--ip"}, std::pair{Option::Mask, "--mask"},
              std::pair{Option::Gateway, "--gateway"}, std::pair{Option::Mac, "--mac"}}) {
            if (std::find(seen.begin(), seen.end(), option) == seen.end()) {
                return Fail(std::string("--modify needs ") + optionName);
            }
        }
        // The rules the settings window applies: nothing a camera cannot
        // live on is sent.
        if (const auto problem =
                ValidateSettings(result.modify.ip, result.modify.mask, result.modify.gateway,
                                 result.modify.mac, result.modify.mode)) {
            return Fail(problem->reason);
        }
        result.mode = CommandMode::Modify;
    } else if (list) {
        result.mode = CommandMode::List;
    }
    return result;
}

std::string HelpText() {
    return R"(Usage: qd_ip_search [--no-firewall] [Qt options such as -platform NAME]
       qd_ip_search --list [--wait MS] [--format tsv|csv|json] [--interface NAME]
       qd_ip_search --modify DEVICE_ID --ip A --mask M --gateway G --mac X
                    [--mode static|dhcp|adsl] [--verify-wait MS]
       qd_ip_search --assign --from IP --mask M --gateway G
                    (--select-ip IP | --ids ID[,ID...] | --all) [--dry-run]
                    [--verify-wait MS] [--format tsv|csv|json] [--interface NAME]
       qd_ip_search --plan FILE.csv [--dry-run] [--verify-wait MS]
                    [--format tsv|csv|json] [--interface NAME]
       qd_ip_search --help | -h | --version | -V

The command line takes over when the first argument is --list, --modify,
--help (-h) or --version (-V); otherwise the program opens its window,
"Search Tool", and passes the arguments to Qt. --list and --modify need no
window and no display. Both broadcast on the local network: use them only
where you mean to talk to cameras. An option's value may also follow an "="
(--wait=500, --format=json).

  --no-firewall        skip the start-up step that asks the firewall to admit
                       UDP port 8089
  --list               search for cameras and print one record per camera with
                       the list's twelve fields; the count goes to standard error
    --wait MS          collect replies for MS milliseconds (default 2000)
    --format FORMAT    tsv (default), csv (RFC 4180) or json (an array of
                       objects); the names are the list's column titles
    --interface NAME   send the request out of that interface only (default:
                       every broadcast-capable IPv4 interface)
  --modify DEVICE_ID   find the camera with that device ID, as the list shows
                       it (0011aabb-0000ff01; at most 2 s, nothing is sent to
                       one that does not answer), send it new network
                       settings; prints "Setting OK!" or "Setting error!",
                       then waits for its evidence and prints "Confirmed: ID
                       at IP", "Not confirmed: ..." or "Conflict: ..."
    --ip A             the new IPv4 address    } dotted quads, numbers 0-255
    --mask M           the new netmask         } without leading zeros,
    --gateway G        the new gateway         } sent as given
    --mac X            the MAC address, six hex pairs (00:1a:2b:3c:4d:5e)
    --mode MODE        static (default), dhcp or adsl
                       Checked before sending: static needs a mask of /1 to
                       /30, an IP that is no network, broadcast, 0/8,
                       loopback, multicast or reserved address, and a gateway
                       inside its subnet; dhcp and adsl take an empty or
                       well-formed address; the MAC is unicast, not all zeros.
    --verify-wait MS   how long to wait for the camera (default 10000; it
                       restarts its network and may be silent for seconds);
                       0 sends without waiting. Static: confirmed by a reply
                       from the new IP reporting the IP, mask, gateway and
                       MAC sent; DHCP and ADSL: by a reply from its own
                       address after it fell silent for a probe interval, or
                       reporting other settings than before. Two addresses
                       answering for the camera differently: conflict
  --assign             give a batch of cameras new static addresses: each,
                       ordered by MAC then device ID, gets the next free
                       address from --from upward inside its subnet (skipping
                       the network and broadcast addresses, the gateway, other
                       listed cameras, this host's addresses and neighbours it
                       knows); too few free addresses is an error before
                       anything is sent
    --from IP          the first address to give
    --mask M           the netmask every camera gets
    --gateway G        the gateway every camera gets
    --select-ip IP     the cameras that answer at IP (a factory-default batch)
    --ids ID[,ID...]   the cameras with these device IDs
    --all              every camera found
  --plan FILE.csv      give each camera of a CSV file its settings; the header
                       names the columns: dev_id or mac (which camera), ip,
                       mask, gateway and optionally mode (static, dhcp, adsl),
                       or the titles --list --format csv writes; every line is
                       checked before anything is sent, also against the
                       cameras found and this host (an address in use, a MAC
                       several cameras share, a device ID with another MAC,
                       one camera twice), and a fault names its line and
                       column
    --dry-run          find and plan, print the records, send nothing
    --verify-wait MS   wait up to MS milliseconds for each camera to answer
                       with its new values (default 10000; 0 does not wait)
                       Both print one record per camera: dev_id, mac, ip,
                       new_ip, result (planned, sent, confirmed,
                       not_confirmed, conflict, refused, not_found), in the
                       --format given. A camera whose record breaks the
                       settings rules is refused, the others go on. Every
                       run that sends first writes a rollback plan (a --plan
                       file restoring the settings reported before) to
                       $XDG_STATE_HOME/qd_ip_search/ (~/.local/state/...;
                       %LOCALAPPDATA%\qd_ip_search\ on Windows) and names it
                       on standard error.
  --help, -h           print this help
  --version, -V        print the version

Text is printed as UTF-8, each field decoded as the window shows it: as UTF-8
when it is valid UTF-8, else as GB18030 (the cameras' encoding), else byte by
byte, ASCII as it is, a backslash as \\ and every other byte as \xNN. Then
every control character (C0 such as tab, newline and ESC, DEL, and C1) is
written as \xNN, in JSON as \u00NN, here and in messages that repeat an
argument or an interface name: nothing a camera sends can reach the terminal
as a control sequence.

Exit status: 0 done (--list whatever it found; --modify confirmed, or sent
with --verify-wait 0; --assign and --plan: every camera confirmed, or a dry
run that found them all); 1 the network failed ("Setting error!" with the
reason on standard error, no socket, port 8089 taken) or the output could not
be written (a full disk; a closed pipe, quietly); 2 a wrong command line, a
plan that fails its checks, or settings that fail them (nothing was sent); 3
--modify: no camera has that device ID, or it did not confirm the settings in
time (it kept other values, stays silent, or another device answers for it);
--assign or --plan: some camera ended not_confirmed, conflict, refused or
not_found.
)";
}

std::string VersionText() {
    return std::string("qd_ip_search ") + kProgramVersion + "\n";
}

}  // namespace qdipc
