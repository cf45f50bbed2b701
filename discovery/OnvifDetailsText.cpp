#include "discovery/OnvifDetailsText.h"

#include <string_view>

#include "discovery/CellText.h"

namespace qdipc {
namespace {

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

std::string Addressing(const std::optional<bool>& dhcp) {
    return !dhcp ? "" : *dhcp ? "dhcp" : "static";
}

}  // namespace

std::string FormatDetailsText(const std::string& address, const OnvifDetails& details) {
    std::string out;
    const auto line = [&](const char* label, std::string_view value) {
        out += label;
        out += EscapeControls(value);
        out += '\n';
    };
    line("Address:       ", address);
    line("Manufacturer:  ", details.manufacturer);
    line("Model:         ", details.model);
    line("Firmware:      ", details.firmware);
    line("Serial number: ", details.serial);
    line("Hardware ID:   ", details.hardwareId);
    line("Clock offset:  ", details.clockOffset ? std::to_string(details.clockOffset->count()) +
                                                      " s (the device's clock minus this PC's)"
                                                : std::string("unknown"));
    for (const OnvifNetworkInterface& interface : details.interfaces) {
        const std::string addressing = Addressing(interface.dhcp);
        line("Interface:     ", interface.name + " MAC " + interface.mac +
                                    (addressing.empty() ? "" : " " + addressing));
    }
    for (const OnvifStream& stream : details.streams) {
        line("Stream:        ", stream.profileName + " (" + stream.profileToken + ") " +
                                    (stream.uri.empty() ? "no RTSP location" : stream.uri));
    }
    return out;
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
               ", \"addressing\": " + JsonText(Addressing(interface.dhcp)) + "}";
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

}  // namespace qdipc
