// The Linux address probe on a private link: the peer's address answers, an
// absent one in the same subnet does not, this end's own counts as taken, and
// an address on no link is not probed. Exit 77 where namespaces cannot be
// made.

#include <cstdio>
#include <string>
#include <vector>

#include "platform/AddressProbe.h"
#include "platform/NetworkInterfaces.h"
#include "tests/platform/ProbeLab.h"

namespace {

const char* Word(qdipc::ProbeAnswer answer) {
    switch (answer) {
        case qdipc::ProbeAnswer::Answered:
            return "answered";
        case qdipc::ProbeAnswer::Silent:
            return "silent";
        case qdipc::ProbeAnswer::NotProbed:
            return "not probed";
    }
    return "?";
}

}  // namespace

int main() {
    using qdipc::ProbeAnswer;
    qdipc::test::ProbeLab lab;
    std::string why;
    if (!lab.Make(1, why) || !lab.Enter()) {
        std::printf("SKIP: %s\n", why.empty() ? "cannot enter the namespace" : why.c_str());
        return 77;
    }
    const std::uint32_t net = lab.Subnet();
    const std::vector<qdipc::Ipv4Interface> interfaces = qdipc::ListBroadcastInterfaces();
    // The peer twice (one address asked twice gets two answers), an absent
    // address, this end, an address of no link and the subnet's broadcast.
    const std::vector<std::uint32_t> asked = {net | 2, net | 3,    net | 2,
                                              net | 1, 0xc0000201, net | 255};
    const std::vector<ProbeAnswer> expected = {ProbeAnswer::Answered,  ProbeAnswer::Silent,
                                               ProbeAnswer::Answered,  ProbeAnswer::Answered,
                                               ProbeAnswer::NotProbed, ProbeAnswer::NotProbed};
    const std::vector<ProbeAnswer> answers = qdipc::ProbeAddresses(asked, interfaces);
    lab.Leave();
    int failures = 0;
    if (interfaces.size() != 1 || interfaces[0].name != "pa") {
        std::printf("FAIL: expected the one interface pa, got %zu\n", interfaces.size());
        ++failures;
    }
    if (answers.size() != asked.size()) {
        std::printf("FAIL: %zu answers for %zu addresses\n", answers.size(), asked.size());
        return 1;
    }
    for (std::size_t i = 0; i < asked.size(); ++i) {
        if (answers[i] != expected[i]) {
            std::printf("FAIL: address %zu: %s, expected %s\n", i, Word(answers[i]),
                        Word(expected[i]));
            ++failures;
        }
    }
    std::printf("%s\n", failures == 0 ? "PASS" : "FAILED");
    return failures == 0 ? 0 : 1;
}
