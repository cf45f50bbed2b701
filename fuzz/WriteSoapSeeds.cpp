// Writes the SOAP reader's seed corpus into the directory given: every answer
// variant of the device simulator as ProbeMatches to both probes, Hello and Bye,
// and what else a watch hears on the group: another kind of device's Hello, a
// Bye without an address.

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
    const std::string head =
        "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
        "xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" "
        "xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\"><s:Body>";
    write("printer-hello",
          head +
              "<d:Hello><a:EndpointReference><a:Address>urn:uuid:printer</a:Address>"
              "</a:EndpointReference><d:Types xmlns:p=\"http://schemas.xmlsoap.org/ws/2006/02/"
              "devprof\">p:Device</d:Types><d:XAddrs>http://10.0.0.9/</d:XAddrs></d:Hello>"
              "</s:Body></s:Envelope>");
    write("bye-no-address", head +
                                "<d:Bye><d:MetadataVersion>2</d:MetadataVersion></d:Bye>"
                                "</s:Body></s:Envelope>");
    return 0;
}
