// Writes the SOAP reader's seed corpus into the directory given: every answer
// variant of the device simulator as ProbeMatches to both probes, Hello and Bye.

#include <filesystem>
#include <fstream>
#include <string>

#include "OnvifAnswers.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    onvifsim::SimDevice device{"urn:uuid:0a1f0000-0000-4000-8000-000000000005", "10.0.0.5",
                               "02:00:00:00:00:05", "Lobby Cam #1", "NVT-5"};
    const auto write = [&dir](const std::string& name, const std::string& text) {
        if (!text.empty()) {
            std::ofstream(dir / name, std::ios::binary | std::ios::trunc) << text;
        }
    };
    onvifsim::ProbeSeen nvt{true, "urn:uuid:11111111-2222-4333-8444-555555555555", true, false};
    onvifsim::ProbeSeen dev{true, "urn:uuid:11111111-2222-4333-8444-666666666666", false, true};
    int number = 0;
    for (const onvifsim::Variant& variant : onvifsim::Variants()) {
        const int index = onvifsim::VariantByName(variant.name);
        const std::string name = variant.name;
        write(name + "-nvt", onvifsim::ProbeMatchesText(device, index, nvt, ++number));
        write(name + "-device", onvifsim::ProbeMatchesText(device, index, dev, ++number));
        write(name + "-hello", onvifsim::HelloText(device, index, ++number));
        write(name + "-bye", onvifsim::ByeText(device, index, ++number));
    }
    return 0;
}
