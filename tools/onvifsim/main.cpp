// onvifsim: simulated ONVIF devices for tests and benchmarks. They answer
// WS-Discovery Probes sent to 239.255.255.250:3702 with ProbeMatches in one of
// the answer variants real devices use, each from its own address, and
// announce themselves with Hello and Bye. POSIX sockets; its own message text
// (OnvifAnswers), nothing of the tool's code. With --device-service first it
// is instead one device's HTTP device service (DeviceServiceMain.cpp).
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "OnvifAnswers.h"

namespace {

using Clock = std::chrono::steady_clock;
std::atomic<bool> g_stop{false};

void OnSignal(int) {
    g_stop = true;
}

struct Options {
    int devices = 4;
    std::uint32_t base = 1;
    std::uint32_t ipBase = 0;  // 0: the same as base
    std::string variant = "all";
    std::string ownAddress;  // IFNAME
    std::string interface;   // IFNAME whose group membership receives the probes
    int delayMs = 500;
    bool hello = false;
    bool bye = false;
    double maxTime = 0;
    bool list = false;
};

const char* kUsage =
    "usage: onvifsim [options]\n"
    "  --devices N          number of simulated devices (default 4)\n"
    "  --base N             number of the first device: its MAC 02:00 + N (big-endian)\n"
    "                       and endpoint derive from it, as camsim's cameras (default 1)\n"
    "  --ip-base N          number whose camsim address the first device takes\n"
    "                       (default: --base): another device's address, a clash\n"
    "  --variant NAME|all   answer variant of every device, or all: device i uses\n"
    "                       variant i modulo their count (default all)\n"
    "  --interface IFNAME   receive probes on this link (joins the group there)\n"
    "  --own-address IFNAME each device answers from its own address on IFNAME\n"
    "                       (IP_FREEBIND, IP_TRANSPARENT: root in the namespace)\n"
    "  --delay-ms MS        each answer waits a random 0..MS ms (default 500)\n"
    "  --hello              every device sends a Hello at start\n"
    "  --bye                every device sends a Bye when the simulator ends\n"
    "  --max-time SECONDS   end after this time (default: at SIGTERM/SIGINT)\n"
    "  --list               print the variants and end\n"
    "or: onvifsim --device-service [--listen A] [--port P] [--user U] [--password P]\n"
    "            [--login token|digest|none] [--clock-offset S] [--silent | --huge]\n"
    "            [--stream-host A]\n";

std::string Octet(std::uint32_t n, int shift) {
    return std::to_string((n >> shift) & 0xFF);
}

onvifsim::SimDevice MakeDevice(std::uint32_t number, std::uint32_t ipNumber) {
    onvifsim::SimDevice device;
    char text[64];
    std::snprintf(text, sizeof text, "urn:uuid:0a1f0000-0000-4000-8000-%012x", number);
    device.endpoint = text;
    device.ip = "10." + Octet(ipNumber, 16) + "." + Octet(ipNumber, 8) + "." + Octet(ipNumber, 0);
    std::snprintf(text, sizeof text, "02:00:%02x:%02x:%02x:%02x", (number >> 24) & 0xFF,
                  (number >> 16) & 0xFF, (number >> 8) & 0xFF, number & 0xFF);
    device.mac = text;
    device.name = "onvif cam #" + std::to_string(number);
    device.hardware = "NVT-" + std::to_string(number);
    return device;
}

int OwnSocket(const std::string& ip, const std::string& link) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    const int on = 1;
    in_addr address{};
    inet_pton(AF_INET, ip.c_str(), &address);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr = address;
    if (setsockopt(fd, IPPROTO_IP, IP_FREEBIND, &on, sizeof on) != 0 ||
        setsockopt(fd, IPPROTO_IP, IP_TRANSPARENT, &on, sizeof on) != 0 ||
        setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, link.c_str(),
                   static_cast<socklen_t>(link.size())) != 0 ||
        bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        std::fprintf(stderr, "onvifsim: answering from %s on %s: %s\n", ip.c_str(), link.c_str(),
                     std::strerror(errno));
        close(fd);
        return -1;
    }
    return fd;
}

struct Pending {
    Clock::time_point due;
    int device;
    sockaddr_in to;
    std::string text;
};

}  // namespace

int RunDeviceService(int argc, char** argv);

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--device-service") {
        return RunDeviceService(argc - 1, argv + 1);
    }
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "onvifsim: %s needs a value\n%s", option.c_str(), kUsage);
                std::exit(2);
            }
            return argv[++i];
        };
        if (option == "--devices") {
            options.devices = std::stoi(value());
        } else if (option == "--base") {
            options.base = static_cast<std::uint32_t>(std::stoul(value()));
        } else if (option == "--ip-base") {
            options.ipBase = static_cast<std::uint32_t>(std::stoul(value()));
        } else if (option == "--variant") {
            options.variant = value();
        } else if (option == "--interface") {
            options.interface = value();
        } else if (option == "--own-address") {
            options.ownAddress = value();
        } else if (option == "--delay-ms") {
            options.delayMs = std::stoi(value());
        } else if (option == "--hello") {
            options.hello = true;
        } else if (option == "--bye") {
            options.bye = true;
        } else if (option == "--max-time") {
            options.maxTime = std::stod(value());
        } else if (option == "--list") {
            options.list = true;
        } else {
            std::fprintf(stderr, "onvifsim: unknown option %s\n%s", option.c_str(), kUsage);
            return option == "--help" ? 0 : 2;
        }
    }
    const auto& variants = onvifsim::Variants();
    if (options.list) {
        for (const auto& variant : variants) {
            std::printf("%-22s %s\n", variant.name, variant.what);
        }
        return 0;
    }
    const int fixedVariant =
        options.variant == "all" ? -1 : onvifsim::VariantByName(options.variant);
    if (options.variant != "all" && fixedVariant < 0) {
        std::fprintf(stderr, "onvifsim: no variant %s (--list names them)\n",
                     options.variant.c_str());
        return 2;
    }
    if (options.devices < 1 || options.devices > 100000) {
        std::fprintf(stderr, "onvifsim: --devices must be 1 to 100000\n");
        return 2;
    }
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);

    std::vector<onvifsim::SimDevice> devices;
    std::vector<int> variantOf;
    std::vector<int> sockets;
    const std::uint32_t ipBase = options.ipBase != 0 ? options.ipBase : options.base;
    for (int i = 0; i < options.devices; ++i) {
        devices.push_back(MakeDevice(options.base + static_cast<std::uint32_t>(i),
                                     ipBase + static_cast<std::uint32_t>(i)));
        variantOf.push_back(fixedVariant >= 0 ? fixedVariant
                                              : i % static_cast<int>(variants.size()));
    }

    const int listen = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(listen, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(listen, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on);
    int buffer = 8 << 20;
    setsockopt(listen, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(3702);
    if (bind(listen, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        std::fprintf(stderr, "onvifsim: bind 0.0.0.0:3702: %s\n", std::strerror(errno));
        return 1;
    }
    ip_mreqn membership{};
    inet_pton(AF_INET, "239.255.255.250", &membership.imr_multiaddr);
    membership.imr_ifindex =
        options.interface.empty() ? 0 : static_cast<int>(if_nametoindex(options.interface.c_str()));
    if (setsockopt(listen, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0) {
        std::fprintf(stderr, "onvifsim: joining 239.255.255.250: %s\n", std::strerror(errno));
        return 1;
    }
    for (const auto& device : devices) {
        const int fd =
            options.ownAddress.empty() ? listen : OwnSocket(device.ip, options.ownAddress);
        if (fd < 0) {
            return 1;
        }
        sockets.push_back(fd);
    }

    sockaddr_in group{};
    group.sin_family = AF_INET;
    group.sin_port = htons(3702);
    inet_pton(AF_INET, "239.255.255.250", &group.sin_addr);
    int messageNumber = 0;
    const auto sendTo = [&](int device, const sockaddr_in& to, const std::string& text) {
        sendto(sockets[static_cast<std::size_t>(device)], text.data(), text.size(), 0,
               reinterpret_cast<const sockaddr*>(&to), sizeof to);
    };
    if (options.hello) {
        for (int i = 0; i < options.devices; ++i) {
            sendTo(i, group,
                   onvifsim::HelloText(devices[static_cast<std::size_t>(i)],
                                       variantOf[static_cast<std::size_t>(i)], ++messageNumber));
        }
    }
    std::printf("onvifsim: %d devices (%s), first %s at %s\n", options.devices,
                options.variant.c_str(), devices[0].endpoint.c_str(), devices[0].ip.c_str());
    std::fflush(stdout);

    std::mt19937 random(static_cast<unsigned>(options.base));
    std::uniform_int_distribution<int> delay(0, std::max(0, options.delayMs));
    std::multimap<Clock::time_point, Pending> pending;
    std::set<std::string> answered;  // MessageIDs answered: repeats are discarded
    std::deque<std::string> answeredOrder;
    long probes = 0;
    long answers = 0;
    const Clock::time_point start = Clock::now();
    std::vector<char> datagram(65536);
    while (!g_stop) {
        const Clock::time_point now = Clock::now();
        if (options.maxTime > 0 && now - start >= std::chrono::duration<double>(options.maxTime)) {
            break;
        }
        while (!pending.empty() && pending.begin()->first <= now) {
            const Pending& due = pending.begin()->second;
            sendTo(due.device, due.to, due.text);
            ++answers;
            pending.erase(pending.begin());
        }
        int waitMs = 100;
        if (!pending.empty()) {
            waitMs = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          pending.begin()->first - now)
                                          .count()) +
                     1;
            waitMs = std::min(std::max(waitMs, 0), 100);
        }
        pollfd wait{listen, POLLIN, 0};
        if (poll(&wait, 1, waitMs) <= 0) {
            continue;
        }
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t length = recvfrom(listen, datagram.data(), datagram.size(), 0,
                                        reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (length <= 0) {
            continue;
        }
        const onvifsim::ProbeSeen probe = onvifsim::ReadProbe(
            std::string_view(datagram.data(), static_cast<std::size_t>(length)));
        if (!probe.valid || !answered.insert(probe.messageId).second) {
            continue;
        }
        answeredOrder.push_back(probe.messageId);
        if (answeredOrder.size() > 4096) {
            answered.erase(answeredOrder.front());
            answeredOrder.pop_front();
        }
        ++probes;
        for (int i = 0; i < options.devices; ++i) {
            std::string text = onvifsim::ProbeMatchesText(devices[static_cast<std::size_t>(i)],
                                                          variantOf[static_cast<std::size_t>(i)],
                                                          probe, ++messageNumber);
            if (!text.empty()) {
                const Clock::time_point due =
                    Clock::now() + std::chrono::milliseconds(delay(random));
                pending.emplace(due, Pending{due, i, from, std::move(text)});
            }
        }
    }
    if (options.bye) {
        for (int i = 0; i < options.devices; ++i) {
            sendTo(i, group,
                   onvifsim::ByeText(devices[static_cast<std::size_t>(i)],
                                     variantOf[static_cast<std::size_t>(i)], ++messageNumber));
        }
    }
    std::printf("onvifsim: %ld probes, %ld answers\n", probes, answers);
    return 0;
}
