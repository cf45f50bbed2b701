#include "discovery/OnvifDetailsText.h"

#include <string_view>

#include "discovery/CellText.h"

namespace qdipc {

std::string AddressingWord(const std::optional<bool>& dhcp) {
    return !dhcp ? "" : *dhcp ? "dhcp" : "static";
}

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
        const std::string addressing = AddressingWord(interface.dhcp);
        line("Interface:     ", interface.name + " MAC " + interface.mac +
                                    (addressing.empty() ? "" : " " + addressing));
    }
    for (const OnvifStream& stream : details.streams) {
        line("Stream:        ", stream.profileName + " (" + stream.profileToken + ") " +
                                    (stream.uri.empty() ? "no RTSP location" : stream.uri));
    }
    return out;
}

}  // namespace qdipc
