#pragma once
// A private link for the address probe (Linux, root): two network namespaces
// joined by a veth pair, this process's end at 10.203.N.1/24, the peer at
// .2 and as many more consecutive addresses as asked. Enter() moves the
// calling thread into this end's namespace, Leave() back; the namespaces go
// with the object. Nothing touches the host's own network.

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace qdipc::test {

class ProbeLab {
public:
    ProbeLab() {
        const std::string id = std::to_string(getpid());
        here_ = "qdipc-probe-a-" + id;
        peer_ = "qdipc-probe-b-" + id;
        subnet_ = 0x0acb0000u | ((static_cast<std::uint32_t>(getpid()) % 200 + 20) << 8);
    }
    ~ProbeLab() {
        Leave();
        Run("ip netns del " + here_ + " 2>/dev/null");
        Run("ip netns del " + peer_ + " 2>/dev/null");
    }
    ProbeLab(const ProbeLab&) = delete;
    ProbeLab& operator=(const ProbeLab&) = delete;

    // Makes the link with the peer answering at .2 to .(1 + live); false
    // with why when namespaces cannot be made here (no root, no ip).
    bool Make(int live, std::string& why) {
        const std::string net = Dotted(subnet_);
        const std::string prefix = net.substr(0, net.rfind('.') + 1);
        if (!Run("ip netns add " + here_) || !Run("ip netns add " + peer_)) {
            why = "cannot create network namespaces (root and iproute2 are needed)";
            return false;
        }
        bool ok = Run("ip -n " + here_ + " link add pa type veth peer name pb netns " + peer_) &&
                  Run("ip -n " + here_ + " addr add " + prefix + "1/24 dev pa") &&
                  Run("ip -n " + here_ + " link set pa up") &&
                  Run("ip -n " + peer_ + " link set pb up");
        for (int n = 0; ok && n < live; ++n) {
            ok = Run("ip -n " + peer_ + " addr add " + prefix + std::to_string(2 + n) +
                     "/24 dev pb");
        }
        if (!ok) {
            why = "cannot set up the veth pair in the namespaces";
        }
        return ok;
    }

    // The calling thread (and what it opens) into this end's namespace.
    bool Enter() {
        original_ = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        const int target = open(("/run/netns/" + here_).c_str(), O_RDONLY | O_CLOEXEC);
        const bool ok = original_ >= 0 && target >= 0 && setns(target, CLONE_NEWNET) == 0;
        if (target >= 0) {
            close(target);
        }
        return ok;
    }
    void Leave() {
        if (original_ >= 0) {
            setns(original_, CLONE_NEWNET);
            close(original_);
            original_ = -1;
        }
    }

    // 10.203.N.0, host order.
    std::uint32_t Subnet() const { return subnet_; }

private:
    static bool Run(const std::string& command) {
        return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
    }
    static std::string Dotted(std::uint32_t a) {
        return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 255) + "." +
               std::to_string((a >> 8) & 255) + "." + std::to_string(a & 255);
    }

    std::string here_;
    std::string peer_;
    std::uint32_t subnet_ = 0;
    int original_ = -1;
};

}  // namespace qdipc::test
