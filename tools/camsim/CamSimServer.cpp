#include "tools/camsim/CamSimServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <span>

#include "tools/camsim/DatagramBatchSender.h"
#include "tools/camsim/DatagramSocket.h"

namespace camsim {
namespace {

constexpr int kPollSliceMs = 50;
// Large enough to see the real size of anything that arrives.
constexpr std::size_t kReceiveBufferSize = 2048;

}  // namespace

CamSimServer::CamSimServer(CameraSet& cameras, ServerOptions options, LineSink sink)
    : cameras_(cameras), options_(std::move(options)), sink_(std::move(sink)) {
    if (options_.kinds.empty()) {
        options_.kinds.push_back(ReplyKind::Normal);
    }
    silentUntil_.assign(cameras_.Size(), Clock::time_point::min());
    silentForGood_.assign(cameras_.Size(), false);
}

CamSimServer::~CamSimServer() {
    for (const auto& [ip, fd] : sourceSockets_) {
        close(fd);
    }
    if (fd_ >= 0) {
        close(fd_);
    }
}

int CamSimServer::SourceSocket(const std::string& ip, std::string& error) {
    in_addr address{};
    if (options_.ownAddressDevice.empty() || inet_pton(AF_INET, ip.c_str(), &address) != 1 ||
        address.s_addr == htonl(INADDR_ANY)) {
        return fd_;
    }
    if (const auto found = sourceSockets_.find(ip); found != sourceSockets_.end()) {
        return found->second;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    const int on = 1;
    const std::string& device = options_.ownAddressDevice;
    // FREEBIND: bind an address the namespace may not hold; TRANSPARENT: send
    // from it; BINDTODEVICE: the limited broadcast needs a named link.
    const char* step = nullptr;
    if (setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
        step = "SO_BROADCAST";
    } else if (setsockopt(fd, IPPROTO_IP, IP_FREEBIND, &on, sizeof on) != 0) {
        step = "IP_FREEBIND";
    } else if (setsockopt(fd, IPPROTO_IP, IP_TRANSPARENT, &on, sizeof on) != 0) {
        step = "IP_TRANSPARENT (needs root in the namespace)";
    } else if (setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, device.c_str(),
                          static_cast<socklen_t>(device.size())) != 0) {
        step = "SO_BINDTODEVICE";
    } else {
        // Port 0: the listening socket keeps everything sent to the command port.
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr = address;
        if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
            step = "bind";
        }
    }
    if (step) {
        error =
            "answering from " + ip + " on " + device + ": " + step + ": " + std::strerror(errno);
        close(fd);
        return -1;
    }
    sourceSockets_.emplace(ip, fd);
    return fd;
}

bool CamSimServer::Open(std::string& error) {
    sockaddr_in local{};
    fd_ = OpenDatagramSocket(options_.listen, local, error);
    if (fd_ < 0) {
        return false;
    }
    // A fixed port is shared as the cameras' own stacks share it. A port the
    // system picks is not: with SO_REUSEADDR another program that binds it
    // with the same option (a test that reserved the number earlier) would
    // take the datagrams meant for these cameras.
    if (options_.listen.port != 0) {
        const int on = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    if (bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        error = "bind " + FormatEndpoint(options_.listen) + ": " + std::strerror(errno);
        close(fd_);
        fd_ = -1;
        return false;
    }
    // Each camera's own socket now, so that a missing right shows at start.
    for (const CameraFields& camera : cameras_.All()) {
        if (!options_.spoof && SourceSocket(camera.ip, error) < 0) {
            return false;
        }
    }
    return true;
}

std::uint16_t CamSimServer::LocalPort() const {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (fd_ < 0 || getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        return 0;
    }
    return ntohs(local.sin_port);
}

ServerCounts CamSimServer::Run(const std::atomic<bool>& stop) {
    ServerCounts counts;
    if (fd_ < 0) {
        counts.stopReason = StopReason::SocketError;
        return counts;
    }
    const auto deadline = options_.maxRunTime.count() > 0
                              ? std::optional(Clock::now() + options_.maxRunTime)
                              : std::nullopt;
    std::array<std::uint8_t, kReceiveBufferSize> buffer{};
    // Handles one waiting datagram; false when none waits.
    const auto takeOne = [&] {
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t length = recvfrom(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT | MSG_TRUNC,
                                        reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (length < 0) {
            return false;
        }
        Handle(buffer.data(), std::min(static_cast<std::size_t>(length), buffer.size()), from,
               counts);
        return true;
    };
    while (!stop.load()) {
        int waitMs = kPollSliceMs;
        if (const auto untilReplay = SendDueReplays(counts)) {
            waitMs = static_cast<int>(std::min<long long>(
                waitMs, std::chrono::ceil<std::chrono::milliseconds>(*untilReplay).count()));
        }
        if (deadline) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now());
            if (left.count() <= 0) {
                counts.stopReason = StopReason::RunTime;
                return counts;
            }
            waitMs = static_cast<int>(std::min<long long>(waitMs, left.count() + 1));
        }
        pollfd watch{fd_, POLLIN, 0};
        const int ready = poll(&watch, 1, waitMs);
        if (ready < 0 && errno != EINTR) {
            sink_(std::string("poll failed: ") + std::strerror(errno));
            counts.stopReason = StopReason::SocketError;
            return counts;
        }
        if (ready <= 0) {
            continue;
        }
        // Take everything that is waiting before looking at the flag again.
        while (!stop.load() && takeOne()) {
            if (options_.maxRequests > 0 && counts.requests >= options_.maxRequests) {
                counts.stopReason = StopReason::RequestCount;
                return counts;
            }
        }
    }
    // What arrived before the stop counts, also when this thread was slow to
    // take it (a loaded host): at most one buffer's worth more.
    for (int left = 256; left > 0 && takeOne(); --left) {
    }
    counts.stopReason = StopReason::StopFlag;
    return counts;
}

void CamSimServer::Handle(const std::uint8_t* data, std::size_t length, const sockaddr_in& from,
                          ServerCounts& counts) {
    const std::string sender = FormatSockaddr(from);
    const DatagramKind kind = ClassifyDatagram(data, length);
    if (kind == DatagramKind::DiscoveryRequest) {
        const DecodedRequest request = *DecodeRequest(data, length);
        ++counts.requests;
        sink_(DescribeRequest(request, sender) + "; " + Answer(request, from, counts));
    } else if (kind == DatagramKind::ModifyRecord) {
        const DecodedModify record = *DecodeModify(data, length);
        ++counts.modifyRecords;
        sink_(DescribeModify(record, sender));
        const std::optional<std::size_t> index = cameras_.Find(record.devId);
        if (options_.replayAfter.count() > 0 && index && lastSearchId_ && !options_.spoof) {
            replays_.push_back(
                {Clock::now() + options_.replayAfter, *index, cameras_.At(*index), *lastSearchId_});
        }
        if (options_.spoof) {
            CameraFields fake = cameras_.At(0);
            fake.devId = record.devId;
            fake.ip = record.ip;
            fake.mask = record.mask;
            fake.gateway = record.gateway;
            fake.mac = record.mac;
            spoofed_[record.devId] = fake;
            sink_("spoofing " + FormatDevId(record.devId) + ": will answer as ip " +
                  QuoteText(record.ip) + ", mask " + QuoteText(record.mask) + ", gateway " +
                  QuoteText(record.gateway) + ", mac " + FormatMac(record.mac));
        } else if (!index) {
            sink_("no camera has devId " + FormatDevId(record.devId) + ": nothing applied");
        } else if (options_.ignoreModify) {
            sink_("camera " + std::to_string(*index) + " (" + FormatDevId(record.devId) +
                  ") ignores the record");
        } else {
            cameras_.ApplyModify(record);
            ++counts.modifyApplied;
            const CameraFields& camera = cameras_.At(*index);
            std::string line = "applied to camera " + std::to_string(*index) + " (" +
                               FormatDevId(camera.devId) + "): ip " + QuoteText(camera.ip) +
                               ", mask " + QuoteText(camera.mask) + ", gateway " +
                               QuoteText(camera.gateway) + ", mac " + FormatMac(camera.mac);
            if (options_.silentAfterModify) {
                silentForGood_[*index] = true;
                line += "; silent from now on";
            } else if (options_.restartTime.count() > 0) {
                silentUntil_[*index] = Clock::now() + options_.restartTime;
                line += "; restarting, silent for " + std::to_string(options_.restartTime.count()) +
                        " ms";
            }
            sink_(line);
        }
    } else {
        ++counts.ignored;
        sink_(DescribeOther(kind, data, length, sender));
    }
}

std::string CamSimServer::Answer(const DecodedRequest& request, const sockaddr_in& from,
                                 ServerCounts& counts) {
    sockaddr_in destination{};
    if (options_.replyToSender) {
        destination = from;
        destination.sin_port = htons(options_.replyPort);
    } else if (const std::optional<sockaddr_in> target = ToSockaddr(options_.replyTo)) {
        destination = *target;
    } else {
        return "not answered: not an IPv4 address: " + options_.replyTo.address;
    }
    lastSearchId_ = request.searchId;
    lastDestination_ = destination;
    // counts.requests already includes this request.
    const std::size_t requestNumber = counts.requests - 1;
    const Clock::time_point now = Clock::now();
    std::size_t withheld = 0;
    // Datagrams in camera order, in runs that leave from one socket.
    struct Run {
        int fd;
        std::vector<std::vector<std::uint8_t>> datagrams;
    };
    std::vector<Run> runs;
    std::string sourceError;
    std::size_t unsendable = 0;
    const auto add = [&](const CameraFields& camera, ReplyKind kind, int fd) {
        if (runs.empty() || runs.back().fd != fd) {
            runs.push_back(Run{fd, {}});
        }
        for (auto& datagram : BuildReplyDatagrams(camera, request.searchId, kind, options_.shape)) {
            runs.back().datagrams.push_back(std::move(datagram));
        }
    };
    if (options_.spoof) {
        for (const auto& [devId, camera] : spoofed_) {
            add(camera, ReplyKind::Normal, fd_);
        }
        counts.repliesSpoofed += spoofed_.size();
    } else {
        for (std::size_t i = 0; i < cameras_.Size(); ++i) {
            if (!Answers(i, requestNumber, now)) {
                ++withheld;
                continue;
            }
            const int fd = SourceSocket(cameras_.At(i).ip, sourceError);
            if (fd < 0) {
                ++unsendable;
                continue;
            }
            add(cameras_.At(i), options_.kinds[i % options_.kinds.size()], fd);
        }
    }
    SendCounts sent;
    for (const Run& run : runs) {
        std::vector<std::span<const std::uint8_t>> views(run.datagrams.begin(),
                                                         run.datagrams.end());
        const SendCounts part = DatagramBatchSender(run.fd).Send(views, destination);
        sent.sent += part.sent;
        sent.failed += part.failed;
        if (part.failed > 0) {
            sent.lastError = part.lastError;
        }
    }
    sent.failed += unsendable;
    counts.repliesSent += sent.sent;
    counts.repliesFailed += sent.failed;
    counts.repliesWithheld += withheld;
    std::string summary =
        "answered with " + std::to_string(sent.sent) + " replies to " + FormatSockaddr(destination);
    if (withheld > 0) {
        summary += ", " + std::to_string(withheld) + " cameras silent";
    }
    if (sent.failed > unsendable) {
        summary += ", " + std::to_string(sent.failed - unsendable) +
                   " refused: " + std::strerror(sent.lastError);
    }
    if (unsendable > 0) {
        summary += ", " + std::to_string(unsendable) + " not sent: " + sourceError;
    }
    return summary;
}

std::optional<CamSimServer::Clock::duration> CamSimServer::SendDueReplays(ServerCounts& counts) {
    std::optional<Clock::duration> next;
    const Clock::time_point now = Clock::now();
    for (auto it = replays_.begin(); it != replays_.end();) {
        if (it->due > now) {
            next = next ? std::min(*next, it->due - now) : it->due - now;
            ++it;
            continue;
        }
        std::string error;
        const int fd = SourceSocket(it->camera.ip, error);
        std::size_t sent = 0;
        for (const auto& datagram :
             BuildReplyDatagrams(it->camera, it->searchId, ReplyKind::Normal, options_.shape)) {
            if (fd >= 0 && sendto(fd, datagram.data(), datagram.size(), 0,
                                  reinterpret_cast<const sockaddr*>(&lastDestination_),
                                  sizeof lastDestination_) > 0) {
                ++sent;
            }
        }
        counts.repliesReplayed += sent;
        sink_("replayed camera " + std::to_string(it->index) + "'s reply to searchId " +
              std::to_string(it->searchId) + " (ip " + QuoteText(it->camera.ip) +
              "): " + (sent > 0 ? "sent" : "not sent" + (error.empty() ? "" : ": " + error)));
        it = replays_.erase(it);
    }
    return next;
}

bool CamSimServer::Answers(std::size_t index, std::size_t requestNumber,
                           Clock::time_point now) const {
    if (silentForGood_[index] || now < silentUntil_[index]) {
        return false;
    }
    return options_.missEvery <= 1 || (requestNumber + index) % options_.missEvery == 0;
}

}  // namespace camsim
