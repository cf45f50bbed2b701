#include "bench/gui/ConfirmBench.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAbstractItemModel>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "discovery/DeviceCodecs.h"
#include "platform/NetworkInterfaces.h"
#include "platform/UdpSocket.h"
#include "tools/camsim/BurstSender.h"
#include "tools/camsim/CamSimThread.h"
#include "tools/camsim/CameraFields.h"
#include "tools/camsim/DatagramDecoder.h"
#include "tools/camsim/ReplyEncoder.h"
#include "ui/qt/CSearchDlg.h"
#include "ui/qt/MessagePresenter.h"

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::size_t kCameras = 10000;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

class QuietMessages : public qdipc::MessagePresenter {
public:
    void Warn(QWidget*, const QString&) override {}
    bool Ask(QWidget*, const QString&) override { return true; }  // closes without a box
};

std::uint16_t FreeLoopbackPort() {
    qdipc::UdpSocket probe;
    probe.Open();
    probe.Bind({"127.0.0.1", 0});
    const std::uint16_t port = probe.LocalPort();
    probe.Close();
    return port;
}

// A window whose requests and settings records go to cameraPort on loopback.
std::unique_ptr<CSearchDlg> LoopbackWindow(std::uint16_t cameraPort) {
    qdipc::SearchDlgConfig config;
    config.searchDestination = {"127.0.0.1", cameraPort};
    config.onvifDestination = {"127.0.0.1", 9};  // never the multicast group
    config.settingsDestination = {"127.0.0.1", cameraPort};
    config.receiver.bind = {"127.0.0.1", 0};
    config.interfaces = [] {
        const auto loopback = qdipc::LoopbackInterface();
        return loopback ? std::vector<qdipc::Ipv4Interface>{*loopback}
                        : std::vector<qdipc::Ipv4Interface>{};
    };
    config.errorLogDirectory = std::filesystem::temp_directory_path();
    // The runs' rollback plans: not in the user's state directory.
    config.stateDirectory = std::filesystem::temp_directory_path() / "qdipc-bench-state";
    config.messages = std::make_shared<QuietMessages>();
    config.openFirewall = [] {};
    auto dlg = std::make_unique<CSearchDlg>(config);
    dlg->resize(1000, 700);
    dlg->show();
    return dlg;
}

// Runs the UI for at most `limit`, or until done() holds.
void RunUi(std::chrono::milliseconds limit, const std::function<bool()>& done = {}) {
    QEventLoop loop;
    QTimer check;
    const Clock::time_point end = Clock::now() + limit;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (Clock::now() >= end || (done && done())) {
            loop.quit();
        }
    });
    check.start(1);
    loop.exec();
}

int RowOf(const CSearchDlg& dlg, const std::string& deviceId) {
    for (int row = 0; row < dlg.Table().RowCount(); ++row) {
        if (dlg.Table().CellText(row, qdipc::kColDevId) == deviceId) {
            return row;
        }
    }
    return -1;
}

// One search of a window at 10,000 simulated cameras: what the repeats cost
// and how many cameras are listed.
void ProbeCost(std::size_t missEvery) {
    const std::uint16_t port = FreeLoopbackPort();
    auto dlg = LoopbackWindow(port);
    dlg->OnSearch();  // binds the receive port; nobody answers yet
    RunUi(1200ms);    // until that search's repeats are gone
    camsim::ServerOptions options;
    options.listen = {"127.0.0.1", port};
    options.replyTo = {"127.0.0.1", dlg->Worker()->BoundPort()};
    options.missEvery = missEvery;
    options.maxRunTime = 60s;
    camsim::CamSimThread cameras(kCameras, 1, options);
    std::string error;
    if (!cameras.Start(error)) {
        std::fprintf(stderr, "bench_gui: camsim: %s\n", error.c_str());
        return;
    }
    const Clock::time_point start = Clock::now();
    Clock::time_point allListed{};
    dlg->OnSearch();
    RunUi(3000ms, [&] {
        if (allListed == Clock::time_point{} &&
            dlg->Table().RowCount() >= static_cast<int>(kCameras)) {
            allListed = Clock::now();
        }
        return false;
    });
    const camsim::ServerCounts counts = cameras.Stop();
    const int rows = dlg->Table().RowCount();
    if (missEvery <= 1) {
        std::printf("one search at %zu cameras, repeats at 0.3 s and 1 s\n", kCameras);
    } else {
        std::printf("one search at %zu cameras that each miss every %zu. request\n", kCameras,
                    missEvery);
    }
    std::printf("  requests the cameras got %zu (%zu more than one)\n", counts.requests,
                counts.requests - std::min<std::size_t>(1, counts.requests));
    std::printf("  replies sent           %zu (%zu more than one per camera)\n", counts.repliesSent,
                counts.repliesSent - std::min(counts.repliesSent, kCameras));
    std::printf("  rows listed            %d of %zu (%.2f %%)", rows, kCameras,
                100.0 * rows / double(kCameras));
    if (allListed != Clock::time_point{}) {
        std::printf(", all listed %.0f ms after Search", Ms(allListed - start));
    }
    std::printf("\n");
}

// The camera whose settings change, played here so that the moment its
// first reply with the new values leaves is known exactly: it takes a
// record, is silent for restartTime, then answers each request. Before its
// own reply, `load` other cameras answer each request.
class TargetCamera {
public:
    TargetCamera(std::uint32_t number, std::uint16_t workerPort, std::size_t load)
        : fields_(camsim::MakeCamera(number)), workerPort_(workerPort), load_(load) {}
    ~TargetCamera() { Stop(); }

    bool Start(std::uint16_t port) {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(port);
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            return false;
        }
        thread_ = std::thread([this] { Run(); });
        return true;
    }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        if (fd_ >= 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    std::string DeviceId() const { return qdipc::FormatDeviceId(fields_.devId.data()); }
    const camsim::DevId& DevId() const { return fields_.devId; }
    // Forgets when the last new values went out; counts requests afresh.
    void Reset() {
        firstNewReplyNs_ = 0;
        requests_ = 0;
    }
    // When the first reply with the values of the latest record left.
    Clock::time_point FirstNewReplyAt() const {
        return Clock::time_point(Clock::duration(firstNewReplyNs_.load()));
    }
    int Requests() const { return requests_.load(); }

    static constexpr auto kRestart = 1000ms;

private:
    // A socket that sends from address through loopback, or -1.
    static int OwnAddressSocket(const std::string& address) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        if (inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) {
            return -1;
        }
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        const int on = 1;
        if (fd < 0 || setsockopt(fd, IPPROTO_IP, IP_FREEBIND, &on, sizeof on) != 0 ||
            setsockopt(fd, IPPROTO_IP, IP_TRANSPARENT, &on, sizeof on) != 0 ||
            setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, "lo", 2) != 0 ||
            bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            if (fd >= 0) {
                close(fd);
            }
            return -1;
        }
        return fd;
    }

    void Run() {
        std::array<std::uint8_t, 2048> buffer{};
        Clock::time_point silentUntil{};
        bool changed = false;
        sockaddr_in worker{};
        worker.sin_family = AF_INET;
        worker.sin_port = htons(workerPort_);
        worker.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        while (!stop_) {
            pollfd watch{fd_, POLLIN, 0};
            if (poll(&watch, 1, 20) <= 0) {
                continue;
            }
            const ssize_t length = recv(fd_, buffer.data(), buffer.size(), 0);
            if (length <= 0) {
                continue;
            }
            const auto size = static_cast<std::size_t>(length);
            if (const auto record = camsim::DecodeModify(buffer.data(), size)) {
                if (record->devId == fields_.devId) {
                    fields_.ip = record->ip;
                    fields_.mask = record->mask;
                    fields_.gateway = record->gateway;
                    fields_.mac = record->mac;
                    silentUntil = Clock::now() + kRestart;
                    changed = true;
                }
                continue;
            }
            const auto request = camsim::DecodeRequest(buffer.data(), size);
            if (!request) {
                continue;
            }
            ++requests_;
            if (load_ > 0) {
                camsim::BurstOptions options;
                options.destination = {"127.0.0.1", workerPort_};
                options.count = load_;
                options.searchId = request->searchId;
                options.base = 1;
                camsim::BurstSender others(options);
                std::string error;
                if (others.Open(error)) {
                    others.Send(stop_);
                }
            }
            if (Clock::now() < silentUntil) {
                continue;
            }
            const auto reply = camsim::EncodeReply(fields_, request->searchId);
            // As a real camera, from its own address (a change is confirmed
            // only from the new one); from loopback where that is not allowed.
            const int own = OwnAddressSocket(fields_.ip);
            const Clock::time_point sentAt = Clock::now();
            sendto(own >= 0 ? own : fd_, reply.data(), reply.size(), 0,
                   reinterpret_cast<sockaddr*>(&worker), sizeof worker);
            if (own >= 0) {
                close(own);
            }
            if (changed && firstNewReplyNs_.load() == 0) {
                firstNewReplyNs_ = sentAt.time_since_epoch().count();
            }
        }
    }

    camsim::CameraFields fields_;
    std::uint16_t workerPort_;
    std::size_t load_;
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<Clock::rep> firstNewReplyNs_{0};
    std::atomic<int> requests_{0};
    std::thread thread_;
};

// Settings changes confirmed through the window: the camera restarts for a
// second, then answers with its new values; `load` other cameras answer
// every probe before it does.
void ConfirmLatency(std::size_t load) {
    const std::uint16_t port = FreeLoopbackPort();
    auto dlg = LoopbackWindow(port);
    dlg->OnSearch();
    TargetCamera camera(900000, dlg->Worker()->BoundPort(), load);
    if (!camera.Start(port)) {
        std::fprintf(stderr, "bench_gui: the simulated camera could not bind\n");
        return;
    }
    RunUi(1500ms);  // the search and its repeats list the camera (and the others)
    const int rowsListed = dlg->Table().RowCount();

    constexpr int kRounds = 5;
    std::vector<double> latencies;
    std::vector<double> totals;
    std::vector<int> probes;
    for (int round = 0; round < kRounds; ++round) {
        const std::string ip = "10.77.1." + std::to_string(10 + round);
        std::array<std::uint8_t, qdipc::record::kDevIdBlockSize> block{};
        std::copy(camera.DevId().begin(), camera.DevId().end(), block.begin());
        const qdipc::NetSettingsRecord record =
            qdipc::BuildModifyRecord(block, qdipc::AddressingMode::Static, ip, "255.255.0.0",
                                     "10.77.0.1", "02:00:00:0d:bb:01");
        camera.Reset();
        Clock::time_point shownAt{};
        const std::string deviceId = camera.DeviceId();
        auto connection = QObject::connect(
            &dlg->Table(), &QAbstractItemModel::dataChanged, [&](const QModelIndex& topLeft) {
                const int row = RowOf(*dlg, deviceId);
                if (shownAt == Clock::time_point{} && row >= 0 &&
                    dlg->Table().CellText(row, qdipc::kColIp) == ip) {
                    shownAt = Clock::now();
                }
                (void)topLeft;
            });
        const Clock::time_point sentAt = Clock::now();
        dlg->SendSettingsRecord(record);
        RunUi(12000ms, [&] { return !dlg->RunsGoing(); });
        QObject::disconnect(connection);
        const Clock::time_point replyAt = camera.FirstNewReplyAt();
        if (shownAt == Clock::time_point{} || replyAt == Clock::time_point{}) {
            std::printf("  round %d: not confirmed\n", round);
            continue;
        }
        latencies.push_back(Ms(shownAt - replyAt));
        totals.push_back(Ms(shownAt - sentAt));
        probes.push_back(camera.Requests());
    }
    camera.Stop();
    std::printf(
        "settings change confirmed, camera silent %.0f s after the record, %zu other "
        "cameras answering each probe (%d rows listed)\n",
        std::chrono::duration<double>(TargetCamera::kRestart).count(), load, rowsListed);
    if (latencies.empty()) {
        return;
    }
    std::sort(latencies.begin(), latencies.end());
    std::sort(totals.begin(), totals.end());
    std::printf(
        "  first reply with the new values -> row shows them: min %.1f, median %.1f, "
        "max %.1f ms (%zu of %d confirmed)\n",
        latencies.front(), latencies[latencies.size() / 2], latencies.back(), latencies.size(),
        kRounds);
    std::printf(
        "  record sent -> row shows the new values: median %.0f ms; probes per change "
        "%d..%d\n",
        totals[totals.size() / 2], *std::min_element(probes.begin(), probes.end()),
        *std::max_element(probes.begin(), probes.end()));
}

}  // namespace

void RunConfirmBench() {
    ProbeCost(1);
    ProbeCost(2);
    ConfirmLatency(0);
    ConfirmLatency(kCameras);
}

}  // namespace bench
