// onvifsim --device-service: a simulated device service (HTTP, SOAP) on one
// address and port, until SIGINT or SIGTERM. For tests and trials inside a
// private network namespace.
//   onvifsim --device-service [--listen A] [--port P] [--user U] [--password P]
//            [--login token|digest|none] [--clock-offset S] [--silent | --huge]
//            [--stream-host A]

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "tools/onvifsim/DeviceServiceSim.h"

namespace {
volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) {
    g_stop = 1;
}
}  // namespace

// argv[0] is "--device-service"; its options follow.
int RunDeviceService(int argc, char** argv) {
    onvifsim::SimOptions options;
    options.port = 8080;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--listen" && hasValue) {
            options.listenAddress = argv[++i];
        } else if (arg == "--port" && hasValue) {
            options.port = static_cast<std::uint16_t>(std::atoi(argv[++i]));
        } else if (arg == "--user" && hasValue) {
            options.user = argv[++i];
        } else if (arg == "--password" && hasValue) {
            options.password = argv[++i];
        } else if (arg == "--clock-offset" && hasValue) {
            options.clockOffset = std::chrono::seconds(std::atol(argv[++i]));
        } else if (arg == "--stream-host" && hasValue) {
            options.streamHost = argv[++i];
        } else if (arg == "--login" && hasValue) {
            const std::string kind = argv[++i];
            options.login = kind == "digest" ? onvifsim::Login::HttpDigest
                            : kind == "none" ? onvifsim::Login::None
                                             : onvifsim::Login::Token;
        } else if (arg == "--silent") {
            options.behaviour = onvifsim::Behaviour::Silent;
        } else if (arg == "--huge") {
            options.behaviour = onvifsim::Behaviour::Huge;
        } else {
            std::fprintf(stderr, "onvifsim: unknown argument %s\n", arg.c_str());
            return 2;
        }
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    onvifsim::DeviceServiceSim sim(options);
    if (!sim.Start()) {
        std::fprintf(stderr, "onvifsim: cannot listen on %s port %u\n",
                     options.listenAddress.c_str(), options.port);
        return 1;
    }
    std::printf("onvifsim: serving on %s port %u\n", options.listenAddress.c_str(), sim.Port());
    std::fflush(stdout);
    while (!g_stop) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return 0;
}
