#pragma once
// The simulated ONVIF devices' messages: ProbeMatches, Hello and Bye in the
// shapes real devices send them (answer variants). Plain text building, its
// own code: nothing of the tool's reader or encoder.

#include <string>
#include <string_view>
#include <vector>

namespace onvifsim {

struct SimDevice {
    std::string endpoint;  // "urn:uuid:..."
    std::string ip;        // dotted quad
    std::string mac;       // "02:00:00:00:00:05"
    std::string name;      // the name scope's value (percent-encoded by the variant as it likes)
    std::string hardware;  // the hardware scope's value
};

struct Variant {
    const char* name;
    const char* what;  // what real devices do that it copies
};

// Every answer variant, by number.
const std::vector<Variant>& Variants();
// The variant's number by name; -1 when there is none.
int VariantByName(std::string_view name);

// What a probe asked for, read by the simulator (its own plain text search).
struct ProbeSeen {
    bool valid = false;
    std::string messageId;
    bool asksNvt = false;     // Types holds NetworkVideoTransmitter
    bool asksDevice = false;  // Types holds Device
};
ProbeSeen ReadProbe(std::string_view datagram);

// The ProbeMatches device sends for probe in this variant; "" when a device of
// this variant does not answer such a probe.
std::string ProbeMatchesText(const SimDevice& device, int variant, const ProbeSeen& probe,
                             int messageNumber);
std::string HelloText(const SimDevice& device, int variant, int messageNumber);
std::string ByeText(const SimDevice& device, int variant, int messageNumber);

}  // namespace onvifsim
