#include "cli/DetailsCommand.h"

#include <cerrno>
#include <fstream>
#include <sstream>

#include "cli/OptionParser.h"
#include "discovery/CellText.h"
#include "platform/SecretPrompt.h"

namespace qdipc {
namespace {

constexpr const char* kPrefix = "qd_ip_search: ";
// A password file's first line is the password; a file larger than this is
// not a password file.
constexpr std::size_t kMaxPasswordFile = 4096;

CommandLine Fail(std::string message) {
    CommandLine failed;
    failed.mode = CommandMode::UsageError;
    failed.error = std::move(message);
    return failed;
}

// A JSON string with the list's escapes: quotes and backslashes in JSON's
// own form, controls as \u00NN.
std::string JsonText(std::string_view text) {
    std::string quoted;
    for (char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    std::string out = "\"";
    AppendEscapedControls(out, quoted, ControlEscape::JsonUnicode);
    return out + "\"";
}

std::optional<std::string> ReadPasswordFile(const std::string& path, std::string& why) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        why = "cannot read the password file " + QuotedText(path);
        return std::nullopt;
    }
    std::string text(kMaxPasswordFile + 1, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(file.gcount()));
    if (text.size() > kMaxPasswordFile) {
        why = "the password file " + QuotedText(path) + " is larger than " +
              std::to_string(kMaxPasswordFile) + " bytes";
        return std::nullopt;
    }
    text = text.substr(0, text.find('\n'));
    if (!text.empty() && text.back() == '\r') {
        text.pop_back();
    }
    return text;
}

}  // namespace

CommandLine ParseDetailsCommandLine(const std::vector<std::string>& args) {
    OptionParser parser;
    parser.AddValue("--details");
    parser.AddFlag("--help,-h");
    parser.AddFlag("--version,-V");
    for (const char* option : {"--user", "--password-file", "--format"}) {
        parser.AddValue(option);
    }
    if (const auto fault = parser.Parse(args)) {
        return Fail(*fault);
    }
    CommandLine result;
    if (parser.Given("--help") || parser.Given("--version")) {
        result.mode = parser.Given("--help") ? CommandMode::Help : CommandMode::Version;
        return result;
    }
    for (const std::string& name : parser.Order()) {
        if (parser.Count(name) > 1) {
            return Fail(name + " is given twice");
        }
        const std::string value = parser.Value(name);
        if (name == "--details") {
            std::string why;
            if (!ParseOnvifTarget(value, &why)) {
                return Fail(
                    "--details takes IP, IP:PORT or http://IP[:PORT]/PATH with a "
                    "dotted-quad IP; " +
                    QuotedText(value) + ": " + why);
            }
            result.details.target = value;
        } else if (name == "--user") {
            if (value.empty()) {
                return Fail("--user needs a user name");
            }
            result.details.user = value;
        } else if (name == "--password-file") {
            result.details.passwordFile = value;
        } else if (name == "--format") {
            if (value != "text" && value != "json") {
                return Fail("--format of --details is text or json, not " + QuotedText(value));
            }
            result.details.json = value == "json";
        }
    }
    if (const auto leftover = parser.Leftover()) {
        return Fail(*leftover);
    }
    if (!result.details.passwordFile.empty() && result.details.user.empty()) {
        return Fail("--password-file needs --user");
    }
    result.mode = CommandMode::Details;
    return result;
}

std::string FormatDetailsJson(const std::string& address, const OnvifDetails& details) {
    std::string out = "{\"address\": " + JsonText(address);
    out += ", \"manufacturer\": " + JsonText(details.manufacturer);
    out += ", \"model\": " + JsonText(details.model);
    out += ", \"firmware\": " + JsonText(details.firmware);
    out += ", \"serial\": " + JsonText(details.serial);
    out += ", \"hardware_id\": " + JsonText(details.hardwareId);
    out += ", \"clock_offset_s\": " +
           (details.clockOffset ? std::to_string(details.clockOffset->count()) : "null");
    out += ", \"interfaces\": [";
    for (std::size_t i = 0; i < details.interfaces.size(); ++i) {
        const OnvifNetworkInterface& interface = details.interfaces[i];
        out += (i ? ", " : "") + std::string("{\"name\": ") + JsonText(interface.name) +
               ", \"mac\": " + JsonText(interface.mac) +
               ", \"addressing\": " + JsonText(AddressingWord(interface.dhcp)) + "}";
    }
    out += "], \"streams\": [";
    for (std::size_t i = 0; i < details.streams.size(); ++i) {
        const OnvifStream& stream = details.streams[i];
        out += (i ? ", " : "") + std::string("{\"profile\": ") + JsonText(stream.profileName) +
               ", \"token\": " + JsonText(stream.profileToken) +
               ", \"uri\": " + JsonText(stream.uri) + "}";
    }
    out += "]}\n";
    return out;
}

int RunDetails(const DetailsOptions& options, std::ostream& out, std::ostream& err,
               const SecretReader& askSecret) {
    const std::optional<OnvifTarget> target = ParseOnvifTarget(options.target);
    if (!target) {
        err << kPrefix << "--details: not a dotted-quad address\n";
        return kExitUsage;
    }
    const std::string address = AddressText(*target);
    std::optional<OnvifLogin> login;
    if (!options.user.empty()) {
        std::string why;
        std::optional<std::string> password;
        if (!options.passwordFile.empty()) {
            password = ReadPasswordFile(options.passwordFile, why);
        } else {
            const SecretReader ask = askSecret ? askSecret : SecretReader(ReadSecretFromTerminal);
            password =
                ask("Password for " + EscapeControls(options.user) + " at " + address + ": ");
            if (!password) {
                why = "--user needs --password-file when standard input is not a terminal";
            }
        }
        if (!password) {
            err << kPrefix << why << "\n";
            return kExitUsage;
        }
        login = OnvifLogin{options.user, *password};
    }

    OnvifDeviceClient client(*target);
    client.SetLogin(login);
    const OnvifDetails details = client.QueryDetails();
    if (details.status != OnvifStatus::Ok) {
        err << kPrefix << address << ": " << EscapeControls(details.reason);
        if (details.status == OnvifStatus::NeedsLogin) {
            err << "; give --user NAME (and --password-file FILE, or type the password when "
                   "asked)";
        }
        err << "\n";
        return kExitDeviceRefused;
    }
    errno = 0;
    out << (options.json ? FormatDetailsJson(address, details)
                         : FormatDetailsText(address, details))
        << std::flush;
    if (!out) {
        if (errno != EPIPE) {
            err << kPrefix << "the details could not be written out in full\n";
        }
        return 1;
    }
    return 0;
}

}  // namespace qdipc
