#include "cli/CommandLine.h"

#include "cli/BatchCommand.h"
#include "cli/DetailsCommand.h"
#include "cli/DiagnoseCommand.h"
#include "cli/OptionParser.h"
#include "cli/SnapshotCommand.h"
#include "cli/WatchCommand.h"

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

// The options that hand the program to the command line wherever they stand.
constexpr std::array<std::string_view, 12> kVerbs = {
    "--list", "--modify", "--assign",  "--plan", "--watch",    "--diagnose",
    "--help", "-h",       "--version", "-V",     "--snapshot", "--details",
};

// The toolkit's own options of the window's command line, with one dash or
// two, and whether each takes a value (QGuiApplication's, QApplication's and
// the X11 platform's).
constexpr std::array<std::pair<std::string_view, bool>, 23> kQtOptions = {{
    {"platform", true},      {"platformpluginpath", true},
    {"platformtheme", true}, {"plugin", true},
    {"qmljsdebugger", true}, {"qwindowgeometry", true},
    {"qwindowicon", true},   {"qwindowtitle", true},
    {"reverse", false},      {"session", true},
    {"style", true},         {"stylesheet", true},
    {"widgetcount", false},  {"display", true},
    {"geometry", true},      {"title", true},
    {"name", true},          {"visual", true},
    {"cmap", false},         {"sync", false},
    {"nograb", false},       {"dograb", false},
    {"fontengine", true},
}};

// The values --format and --mode take.
constexpr std::array<std::pair<std::string_view, SearchProtocol>, 3> kProtocols = {{
    {"native", SearchProtocol::Native},
    {"onvif", SearchProtocol::Onvif},
    {"all", SearchProtocol::All},
}};

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

CommandLine Fail(std::string message) {
    CommandLine result;
    result.mode = CommandMode::UsageError;
    result.error = std::move(message);
    return result;
}

}  // namespace

bool IsDeviceIdText(std::string_view text) {
    return ParseDeviceIdStrict(text).has_value();
}

bool IsMacText(std::string_view text) {
    return ParseMacStrict(text).has_value();
}

bool IsCommandLineVerb(std::string_view argument) {
    const std::string_view name = argument.substr(0, argument.find('='));
    return std::find(kVerbs.begin(), kVerbs.end(), name) != kVerbs.end();
}

namespace {

// The window's command line: the toolkit's options and --no-firewall, and
// nothing else. An option nobody knows would otherwise open the window
// unnoticed (a mistyped verb).
CommandLine ParseWindowCommandLine(const std::vector<std::string>& args) {
    CommandLine result;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const std::size_t equals = arg.find('=');
        const std::string_view name = std::string_view(arg).substr(0, equals);
        if (name == "--no-firewall") {
            if (equals != std::string::npos) {
                return Fail("--no-firewall takes no value");
            }
            result.noFirewall = true;
            continue;
        }
        if (arg.empty() || arg[0] != '-') {
            return Fail("unexpected argument " + QuotedText(arg));
        }
        const std::string_view bare = name.substr(name.rfind("--", 0) == 0 ? 2 : 1);
        const auto qt = std::find_if(kQtOptions.begin(), kQtOptions.end(),
                                     [&](const auto& entry) { return entry.first == bare; });
        if (qt == kQtOptions.end()) {
            return Fail("unknown option " + QuotedText(name));
        }
        if (qt->second && equals == std::string::npos) {
            if (i + 1 == args.size()) {
                return Fail(std::string(name) + " needs a value");
            }
            ++i;
        }
    }
    return result;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    const auto given = [&](std::initializer_list<std::string_view> names) {
        return std::any_of(args.begin(), args.end(), [&](const std::string& arg) {
            const std::string_view name = std::string_view(arg).substr(0, arg.find('='));
            return std::find(names.begin(), names.end(), name) != names.end();
        });
    };
    // A verb anywhere makes this the verb's command line; --assign and --plan
    // have options of their own.
    if (given({"--assign", "--plan"})) {
        return ParseBatchCommandLine(args);
    }
    if (given({"--watch"})) {
        return ParseWatchCommandLine(args);
    }
    if (given({"--diagnose"})) {
        return ParseDiagnoseCommandLine(args);
    }
    if (given({"--snapshot"})) {
        return ParseSnapshotCommandLine(args);
    }
    if (given({"--details"})) {
        return ParseDetailsCommandLine(args);
    }
    if (!given({"--list", "--modify", "--help", "-h", "--version", "-V"})) {
        return ParseWindowCommandLine(args);
    }

    OptionParser parser;
    for (const char* flag :
         {"--no-firewall", "--list", "--no-rollback", "--help,-h", "--version,-V", "--force"}) {
        parser.AddFlag(flag);
    }
    for (const char* option : {"--wait", "--format", "--interface", "--protocol", "--modify",
                               "--ip", "--mask", "--gateway", "--mac", "--mode", "--verify-wait"}) {
        parser.AddValue(option);
    }
    if (const auto fault = parser.Parse(args)) {
        return Fail(*fault);
    }

    CommandLine result;
    std::optional<std::string> listOption;    // first option that needs --list
    std::optional<std::string> modifyOption;  // first option that needs --modify
    for (const std::string& name : parser.Order()) {
        if (parser.Count(name) > 1) {
            return Fail(name + " is given twice");
        }
        const std::string value = parser.Value(name);
        const bool listGroup =
            name == "--wait" || name == "--format" || name == "--interface" || name == "--protocol";
        const bool modifyGroup = name == "--ip" || name == "--mask" || name == "--gateway" ||
                                 name == "--mac" || name == "--mode" || name == "--verify-wait" ||
                                 name == "--force" || name == "--no-rollback";
        if (listGroup && !listOption) {
            listOption = name;
        }
        if (modifyGroup && !modifyOption) {
            modifyOption = name;
        }
        if (name == "--no-firewall") {
            result.noFirewall = true;
        } else if (name == "--force") {
            result.modify.force = true;
        } else if (name == "--no-rollback") {
            result.modify.noRollback = true;
        } else if (name == "--wait") {
            const std::optional<int> wait = ParseWait(value);
            if (!wait) {
                return Fail("--wait takes whole milliseconds from 0 to " +
                            std::to_string(kMaxListWaitMs) + ", not " + QuotedText(value));
            }
            result.list.waitMs = *wait;
        } else if (name == "--format") {
            if (const auto format = Lookup(kFormats, value)) {
                result.list.format = *format;
            } else {
                return Fail("--format is tsv, csv or json, not " + QuotedText(value));
            }
        } else if (name == "--interface") {
            if (value.empty()) {
                return Fail("--interface needs an interface name");
            }
            result.list.interfaceName = value;
        } else if (name == "--protocol") {
            if (const auto protocol = Lookup(kProtocols, value)) {
                result.list.protocol = *protocol;
            } else {
                return Fail("--protocol is native, onvif or all, not " + QuotedText(value));
            }
        } else if (name == "--modify") {
            if (!IsDeviceIdText(value)) {
                return Fail(
                    "--modify needs a device ID as the list shows it (four hex pairs, "
                    "'-', four more, e.g. 0011aabb-0000ff01), not " +
                    QuotedText(value));
            }
            result.modify.deviceId = value;
        } else if (name == "--ip" || name == "--mask" || name == "--gateway") {
            if (value.size() > kMaxFieldText) {
                return Fail(name + " " + QuotedText(value) + " is longer than the " +
                            std::to_string(kMaxFieldText) + " characters its field holds");
            }
            (name == "--ip"     ? result.modify.ip
             : name == "--mask" ? result.modify.mask
                                : result.modify.gateway) = value;
        } else if (name == "--mac") {
            if (!IsMacText(value)) {
                return Fail("--mac needs six hex pairs such as 00:1a:2b:3c:4d:5e, not " +
                            QuotedText(value));
            }
            result.modify.mac = value;
        } else if (name == "--mode") {
            if (const auto mode = Lookup(kModes, value)) {
                result.modify.mode = *mode;
            } else {
                return Fail("--mode is static, dhcp or adsl, not " + QuotedText(value));
            }
        } else if (name == "--verify-wait") {
            const std::optional<int> wait = ParseWait(value);
            if (!wait) {
                return Fail("--verify-wait takes whole milliseconds from 0 to " +
                            std::to_string(kMaxListWaitMs) + ", not " + QuotedText(value));
            }
            result.modify.verifyWaitMs = *wait;
        }
    }

    if (const auto leftover = parser.Leftover()) {
        return Fail(*leftover);
    }
    if (parser.Given("--help")) {
        result.mode = CommandMode::Help;
        return result;
    }
    if (parser.Given("--version")) {
        result.mode = CommandMode::Version;
        return result;
    }
    const bool list = parser.Given("--list");
    const bool modify = parser.Given("--modify");
    if (list && modify) {
        return Fail("--list and --modify cannot be used together");
    }
    if (listOption && !list) {
        return Fail(*listOption + " belongs to --list");
    }
    if (modifyOption && !modify) {
        return Fail(*modifyOption + " belongs to --modify");
    }
    if (modify) {
        for (const char* needed : {"--ip", "--mask", "--gateway", "--mac"}) {
            if (!parser.Given(needed)) {
                return Fail(std::string("--modify needs ") + needed);
            }
        }
        // The rules the settings window applies: nothing a camera cannot
        // live on is sent.
        if (const auto problem =
                ValidateSettings(result.modify.ip, result.modify.mask, result.modify.gateway,
                                 result.modify.mac, result.modify.mode)) {
            return Fail(EscapeControls(problem->reason));
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
                    [--protocol native|onvif|all]
       qd_ip_search --modify DEVICE_ID --ip A --mask M --gateway G --mac X
                    [--mode static|dhcp|adsl] [--verify-wait MS] [--force] [--no-rollback]
       qd_ip_search --assign --from IP --mask M --gateway G
                    (--select-ip IP | --ids ID[,ID...] | --all) [--dry-run]
                    [--verify-wait MS] [--format tsv|csv|json] [--interface NAME]
                    [--no-rollback]
       qd_ip_search --plan FILE.csv [--dry-run] [--verify-wait MS]
                    [--format tsv|csv|json] [--interface NAME] [--no-rollback]
       qd_ip_search --diagnose [--format tsv|json]
       qd_ip_search --watch [--interval S] [--format tsv|jsonl] [--interface NAME]
       qd_ip_search --snapshot IP FILE.png
       qd_ip_search --details IP[:PORT] [--user U [--password-file F]]
                    [--format text|json]
       qd_ip_search --help | -h | --version | -V

The command line takes over when any argument is one of its verbs: --list,
--modify, --assign, --plan, --diagnose, --watch, --snapshot, --details, --help
(-h) or --version (-V). Otherwise the program opens its window, "Search Tool",
and passes the arguments to Qt; an option neither Qt nor the window knows is
refused (exit status 2), and without a display the program says so and exits
with status 1. The verbs need no window and no display. --list, --modify,
--assign, --plan, --diagnose and --watch broadcast on the local network: use
them only where you mean to talk to cameras. An option's value may also follow
an "=" (--wait=500, --format=json).

  --no-firewall        skip the start-up step that asks the firewall to admit
                       UDP port 8089
  --list               search for cameras and print one record per camera with
                       the list's twelve fields and how it was found
                       (seen_via: native, onvif or native+onvif); the count
                       goes to standard error
    --wait MS          collect replies for MS milliseconds (default 2000)
    --format FORMAT    tsv (default), csv (RFC 4180) or json (an array of
                       objects); the names are the list's column titles (TSV
                       adds Flags: ip_conflict, host_address, other_subnet)
    --interface NAME   send the request out of that interface only (default:
                       every broadcast-capable IPv4 interface)
    --protocol P       native: this tool's own discovery request; onvif: ONVIF
                       devices (WS-Discovery probes to 239.255.255.250:3702,
                       2.5 s); all (default): both, a device answering both
                       in one record
  --modify DEVICE_ID   find the camera with that device ID, as the list shows
                       it (0011aabb-0000ff01; at most 2 s, nothing is sent to
                       one that does not answer), send it new network
                       settings; prints "Setting OK!" or "Setting error!",
                       then waits for its evidence and prints "Confirmed: ID
                       at IP", "Not confirmed: ...", "Conflict: ..." or
                       "Unverifiable: ..." (static settings it already
                       reports: no answer can show the change)
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
                       0 sends without waiting. Only replies to a probe sent
                       after the record count, each probe under a fresh
                       search ID. Static: confirmed by a reply from the new
                       IP reporting the IP, mask, gateway and MAC sent; DHCP
                       and ADSL: by a reply from its own address after two
                       silent probe intervals, or reporting other settings
                       than before. Two addresses answering for the camera
                       differently, its ID with another MAC, or another
                       device at the new address: conflict
    --force            send even when the new static IP is in use: without
                       it an IP held by another camera found, this host, a
                       gateway, another run, a neighbour or anything that
                       answers a probe (ARP) is refused, holder named
                       (exit 2, nothing sent); a device ID answered by more
                       than one MAC is refused even so
  --assign             give a batch of cameras new static addresses: each,
                       ordered by MAC then device ID, gets the next free
                       address from --from upward inside its subnet (skipping
                       the network and broadcast addresses, the gateway, other
                       listed cameras, this host's addresses, neighbours it
                       knows and every address where something answers a
                       probe (ARP, about 1 s; the skipped ones and those on no
                       link of this host, which cannot be probed, are named
                       on standard error); too few free addresses is an error
                       before anything is sent. A device ID answered by more
                       than one MAC is refused, its MACs named
    --from IP          the first address to give
    --mask M           the netmask every camera gets
    --gateway G        the gateway every camera gets
    --select-ip IP     the cameras that answer at IP (a factory-default batch)
    --ids ID[,ID...]   the cameras with these device IDs
    --all              every camera found
  --plan FILE.csv      give each camera of a CSV file its settings; the header
                       names the columns: dev_id or mac (which camera), ip,
                       mask, gateway and optionally mode (static, dhcp, adsl),
                       new_mac (a new MAC) and restore (yes: the line puts a
                       camera back, as a rollback plan's lines do), or the
                       titles --list --format csv writes; at most 16 MB and
                       500000 lines, read within 10 s (a pipe); every line is
                       checked before anything is sent, also against the
                       cameras found and this host (an address in use or
                       answering a probe, a MAC several cameras share, a
                       device ID with another MAC or several MACs, one camera
                       twice), and a fault names its line and column.
                       Restore lines may share one address (a factory batch)
                       and keep an empty or unusual gateway; a restore line
                       that cannot be applied is refused alone
    --dry-run          find and plan, print the records, send nothing
    --verify-wait MS   wait up to MS milliseconds for each camera to answer
                       with its new values (default 10000; 0 does not wait)
                       Both print one record per camera: dev_id, mac, ip,
                       new_ip, new_mask, new_gateway, mode, result (planned,
                       sent, confirmed, not_confirmed, conflict, unverifiable,
                       refused, not_found), reason, in the --format given;
                       each camera's result also goes to standard error as
                       it comes. A camera whose record breaks the settings
                       rules is refused, the others go on.
    --no-rollback      (--modify, --assign, --plan) send even when no rollback
                       plan can be written. Without it, every run that sends
                       first writes and flushes a rollback plan (a --plan file
                       of restore lines: the settings each camera reported
                       before) to $XDG_STATE_HOME/qd_ip_search/
                       (~/.local/state/...; %LOCALAPPDATA%\qd_ip_search\ on
                       Windows) and names it on standard error; when it
                       cannot (a full or read-only disk, no HOME), nothing is
                       sent and the reason is said (exit status 1).
  --diagnose           why does no camera answer? Checks this PC's network
                       (interfaces, link, Wi-Fi only, another program on UDP
                       8089, firewalld, ufw, nftables, rp_filter), makes one
                       search and checks what it saw (requests not sent,
                       datagrams rejected, replies only from other subnets);
                       prints one line per check: check, result (ok, problem,
                       not_checked), finding, fix. Reads only: it changes
                       nothing and asks for no password
    --format FORMAT    tsv (default, with a header line) or json
  --watch              search, then keep the list up to date with one request
                       every interval and print one line per event until
                       SIGINT or SIGTERM (then exit 0): added, changed (new
                       values), gone (no answer for 3 intervals), back (with
                       its new values); each line carries the event's time
                       (UTC, milliseconds), the camera's fields and its first-
                       and last-seen times (UTC) and is flushed at once. ONVIF
                       devices too: each interval also probes for them, and
                       their Hello (added, back) and Bye (gone) on
                       239.255.255.250:3702 count at once
    --interval S       seconds between two requests (default 5; 0.2 to 3600)
    --format FORMAT    tsv (default; a header line first) or jsonl (one JSON
                       object per line: "event", "time", then the keys of
                       --list --format json, "first_seen", "last_seen")
    --interface NAME   send out of that interface only
  --snapshot IP FILE.png
                       write one picture of the camera's stream as PNG at the
                       stream's resolution, as the preview opens it
                       (rtsp://IP/channel1/1, port 554, 300 ms network
                       cache); IP must be a plain dotted quad. Sends no
                       broadcast and needs no display; gives up after 10 s.
                       Prints "FILE.png: WIDTHxHEIGHT picture of IP"; when
                       there is no picture, the reason ("No picture: no
                       answer from IP", "... asks for a user name and
                       password", "... the stream has no video")
  --details IP         ask one device's standard SOAP device service (HTTP to
                       that dotted quad only, port 80 unless IP:PORT, or the
                       service's http://IP[:PORT]/PATH) for its maker, model,
                       firmware, serial number, MAC, DHCP or static, clock
                       offset and RTSP stream locations; broadcasts nothing
    --user U           log in as U (a digest on the device's own clock; HTTP
                       digest where the device asks for it)
    --password-file F  the password is F's first line; without it the
                       password is asked on the terminal
    --format FORMAT    text (default) or json (one object)
  --help, -h           print this help
  --version, -V        print the version

Text is printed as UTF-8, each field decoded as the window shows it: as UTF-8
when it is valid UTF-8, else as GB18030 (the cameras' encoding), else as
bytes. Then one escape, here and in messages that repeat an argument, a file's
text or an interface name: a byte that is not UTF-8 and every control
character (C0 such as tab, newline and ESC, DEL, and C1) as \xNN, a
bidirectional control (U+202A-U+202E, U+2066-U+2069, LRM, RLM, ALM) as \uNNNN
and a backslash as \\, so \x1b always means the byte; JSON keeps the exact
text in its own escapes. Nothing a camera sends can reach the terminal as a
control sequence. CSV is for spreadsheets: a field that starts with =, +, -,
@, a tab or a carriage return gets a leading apostrophe, so it is never run as
a formula; TSV and JSON keep the exact text.

Exit status: 0 done (--list whatever it found; --modify confirmed, or sent
with --verify-wait 0; --assign and --plan: every camera confirmed, or a dry
run that found them all); 1 the network failed ("Setting error!" with the
reason on standard error, no socket, port 8089 taken: its holder is named),
no rollback plan could be written (nothing was sent), the output could not
be written (a full disk; a closed pipe, quietly) or the window could not open
(no display); 2 a wrong command line, a plan that fails its checks or is
larger than 16 MB, or settings that fail them (nothing was sent); 3
--modify: no camera has that device ID, or it did not confirm the settings in
time (it kept other values, stays silent, another device answers for it, or
the settings were the ones it reported: unverifiable);
--assign or --plan: some camera ended not_confirmed, conflict, unverifiable,
refused or not_found; --diagnose: a check found a problem (0: none did);
--snapshot: 1 when the camera gave no picture or the file could not be
written; --details: the device refused the login, wants one, or could not be
reached. --list that
finds no camera says so on standard error and suggests --diagnose.
)";
}

std::string VersionText() {
    return std::string("qd_ip_search ") + kProgramVersion + "\n";
}

}  // namespace qdipc
