// bench_plan: reading and checking a large plan, as --plan does before any
// record leaves. Prints figures; asserts nothing.
//
//   bench_plan [--lines N] [--cameras N] [--mode static|dhcp|restore]
//
// Writes N lines (300,000 by default) that each name a camera by device ID
// and MAC with a distinct address in 10.0.0.0/8 (static), no address (dhcp),
// or one shared factory address (restore), then reads them (ReadPlanFile) and
// plans them (PlanLines) against the given number of cameras found, every
// one named by a line, with a neighbour table of 1,000 entries. Prints the
// plan's size, each phase's time and the process's peak resident memory.

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "settings/PlanFile.h"
#include "settings/ProvisioningSession.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// The processor time the process used so far, in seconds (on a busy machine
// the wall time says more about the other programs).
double CpuSeconds() {
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

// The peak resident size so far (VmHWM), in MB.
double PeakMegabytes() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmHWM:") {
            double kilobytes = 0;
            status >> kilobytes;
            return kilobytes / 1024.0;
        }
        status.ignore(1 << 20, '\n');
    }
    return 0;
}

std::string DeviceId(std::size_t n) {
    char text[32];
    std::snprintf(text, sizeof text, "0011aabb-%08zx", n);
    return text;
}

std::string Mac(std::size_t n) {
    char text[32];
    std::snprintf(text, sizeof text, "02:00:%02zx:%02zx:%02zx:%02zx", (n >> 24) & 0xff,
                  (n >> 16) & 0xff, (n >> 8) & 0xff, n & 0xff);
    return text;
}

std::string Address(std::size_t n) {
    // 10.0.1.0 on, skipping the .0 and .255 of each /24.
    const std::size_t host = n % 254 + 1;
    const std::size_t net = n / 254 + 1;
    return "10." + std::to_string((net >> 8) & 0xff) + "." + std::to_string(net & 0xff) + "." +
           std::to_string(host);
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t lines = 300000;
    std::size_t cameras = 2000;
    std::string mode = "static";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--lines") == 0) {
            lines = std::stoul(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--cameras") == 0) {
            cameras = std::stoul(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--mode") == 0) {
            mode = argv[i + 1];
        }
    }
    std::string text = mode == "restore" ? "dev_id,mac,ip,mask,gateway,mode,restore\r\n"
                                         : "dev_id,mac,ip,mask,gateway,mode\r\n";
    for (std::size_t n = 0; n < lines; ++n) {
        text += DeviceId(n) + "," + Mac(n) + ",";
        if (mode == "dhcp") {
            text += ",,,dhcp\r\n";
        } else if (mode == "restore") {
            text += "192.168.1.64,255.255.255.0,0.0.0.0,static,yes\r\n";
        } else {
            text += Address(n) + ",255.0.0.0,10.0.0.1,static\r\n";
        }
    }
    std::printf("plan: %zu %s lines, %.1f MB; peak before reading %.0f MB\n", lines, mode.c_str(),
                static_cast<double>(text.size()) / (1024.0 * 1024.0), PeakMegabytes());

    const Clock::time_point readStart = Clock::now();
    const double readCpu = CpuSeconds();
    qdipc::PlanFile plan = qdipc::ReadPlanFile(text);
    const Clock::duration read = Clock::now() - readStart;
    std::printf("read and checked: %.3f s (cpu %.3f s), %zu lines, %s; peak %.0f MB\n",
                Seconds(read), CpuSeconds() - readCpu, plan.lines.size(),
                plan.Ok() ? "ok" : plan.error.c_str(), PeakMegabytes());

    std::vector<qdipc::FoundCamera> found;
    for (std::size_t n = 0; n < cameras && n < lines; ++n) {
        qdipc::FoundCamera camera;
        camera.camera = {DeviceId(n), Mac(n), "192.168.1.64", "255.255.255.0", "", 0};
        found.push_back(std::move(camera));
    }
    qdipc::AssignSurroundings surroundings;
    surroundings.interfaces.push_back({"eth0", 2, "10.255.255.254", "255.0.0.0", "10.255.255.255"});
    for (std::size_t n = 0; n < 1000; ++n) {
        surroundings.neighbours.push_back(
            {"172.16." + std::to_string(n / 250) + "." + std::to_string(n % 250 + 1), 2});
    }
    const Clock::time_point planStart = Clock::now();
    const double planCpu = CpuSeconds();
    const qdipc::ProvisioningPlan planned = qdipc::PlanLines(plan.lines, found, surroundings);
    const Clock::duration planning = Clock::now() - planStart;
    std::printf(
        "planned against %zu cameras found: %.3f s (cpu %.3f s), %zu orders, %zu not "
        "found, %s; peak %.0f MB\n",
        found.size(), Seconds(planning), CpuSeconds() - planCpu, planned.orders.size(),
        planned.notFound.size(), planned.Ok() ? "ok" : planned.error.c_str(), PeakMegabytes());
    std::printf("total: %.3f s\n", Seconds(read + planning));
    return 0;
}
