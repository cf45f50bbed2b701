#pragma once
// The program's command line. It takes over when any argument is one of its
// verbs (--list, --modify, --assign, --plan, --help or -h, --version or -V):
// those do their work without a window and without a display. Any other
// command line is the window's: the toolkit's own options (-platform,
// -display, -style, -session ...) and --no-firewall; anything else is a usage
// error, so a mistyped verb never opens the window.
//
// Parsing is complete before anything is sent: every value is checked here,
// so a command line that parses is one the program can carry out, and one
// that does not gets a one-line message and exit code 2.

#include <string>
#include <string_view>
#include <vector>

#include "discovery/ListOutput.h"
#include "settings/NetSettingsRecord.h"

namespace qdipc {

inline constexpr int kExitUsage = 2;
// --modify: the record went out but the camera did not confirm it.
inline constexpr int kExitNotConfirmed = 3;

// How long --modify waits for the camera to answer with its new settings
// when --verify-wait is not given.
inline constexpr int kDefaultVerifyWaitMs = 10000;

// How long --list collects replies when --wait is not given, and the most it
// accepts (ten minutes).
inline constexpr int kDefaultListWaitMs = 2000;
inline constexpr int kMaxListWaitMs = 600000;

enum class CommandMode {
    Window,
    List,
    Modify,
    Assign,
    Plan,
    Watch,
    Diagnose,
    Snapshot,
    Details,
    Help,
    Version,
    UsageError
};

// Which devices a search looks for: the cameras of this tool's own protocol,
// ONVIF devices (WS-Discovery), or both (the default).
enum class SearchProtocol { Native, Onvif, All };

struct ListOptions {
    int waitMs = kDefaultListWaitMs;
    ListFormat format = ListFormat::Tsv;
    std::string interfaceName;  // empty: every interface
    SearchProtocol protocol = SearchProtocol::All;
};

struct ModifyOptions {
    std::string deviceId;  // the list's text form, checked: 4 hex pairs, "-", 4 hex pairs
    std::string ip;        // each text at most 15 bytes, the room of its field
    std::string mask;
    std::string gateway;
    std::string mac;  // checked: six groups of 1 or 2 hex digits, ":" or "-" between
    AddressingMode mode = AddressingMode::Static;
    int verifyWaitMs = kDefaultVerifyWaitMs;  // 0: send only
    // --force: send even when the new address is in use (another camera,
    // this host, a gateway, a live host); without it that is refused.
    bool force = false;
    bool noRollback = false;                  // send even without a rollback plan
};

// --assign and --plan: new addresses for a batch of cameras.
struct BatchOptions {
    enum class Select { None, Ip, Ids, All };
    // --assign: the plan's start, mask and gateway and which cameras.
    std::string from;
    std::string mask;
    std::string gateway;
    Select select = Select::None;
    std::string selectIp;
    std::vector<std::string> ids;  // device IDs as the list shows them, lowercase
    // --plan: the CSV file.
    std::string planFile;
    bool dryRun = false;
    bool noRollback = false;  // send even without a rollback plan
    int verifyWaitMs = kDefaultVerifyWaitMs;
    ListFormat format = ListFormat::Tsv;
    std::string interfaceName;  // empty: every interface
};

// --watch: the list kept up to date, one line per event.
inline constexpr int kDefaultWatchIntervalMs = 5000;
struct WatchCommandOptions {
    int intervalMs = kDefaultWatchIntervalMs;  // between two requests
    ListFormat format = ListFormat::Tsv;       // tsv or json (JSON Lines)
    std::string interfaceName;                 // empty: every interface
};

// --diagnose: the network checks and one search.
struct DiagnoseOptions {
    ListFormat format = ListFormat::Tsv;  // tsv or json
};

// --snapshot: one picture of a camera's stream as PNG.
struct SnapshotCommandOptions {
    std::string ip;    // a plain dotted quad, checked
    std::string file;  // the PNG to write
};

// --details: a device's own device service, asked at one address.
struct DetailsOptions {
    std::string target;        // IP, IP:PORT or http://IP[:PORT]/PATH (checked)
    std::string user;          // empty: no login
    std::string passwordFile;  // empty with a user: asked on the terminal
    bool json = false;         // text (default) or json
};

struct CommandLine {
    CommandMode mode = CommandMode::Window;
    // Skip the firewall step at start-up (window mode).
    bool noFirewall = false;
    ListOptions list;
    ModifyOptions modify;
    BatchOptions batch;
    WatchCommandOptions watch;
    DiagnoseOptions diagnose;
    SnapshotCommandOptions snapshot;
    DetailsOptions details;
    // UsageError: what is wrong, one line without the program's name.
    std::string error;
};

// Whether argument, as the first one, hands the program to the command line.
bool IsCommandLineVerb(std::string_view argument);

// args are the arguments after the program's name. Options take their value
// as the next argument or after "=" (--wait=500). A command line without a
// verb is the window's (Window mode) when the window knows every option.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// The text --help prints (ends with a newline).
std::string HelpText();
// The text --version prints: "qd_ip_search 1.0.0.1\n".
std::string VersionText();

// The checks ParseCommandLine applies, for reuse and tests.
bool IsDeviceIdText(std::string_view text);
bool IsMacText(std::string_view text);

}  // namespace qdipc
