#include "bench/ingest/BareReceiver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <vector>

namespace ingest_bench {
namespace {

constexpr std::size_t kSlots = 64;      // as the worker's batch
constexpr std::size_t kSlotSize = 380;  // as the worker's receive length

int GrantedBuffer(int fd) {
    int value = 0;
    socklen_t size = sizeof value;
    getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &value, &size);
    return value / 2;  // the kernel reports twice the request
}

}  // namespace

BareReceiver::BareReceiver(int bufferBytes) {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd_ < 0) {
        return;
    }
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
    if (GrantedBuffer(fd_) < bufferBytes) {
        setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &bufferBytes, sizeof bufferBytes);
    }
    effectiveBuffer_ = GrantedBuffer(fd_);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof local;
    if (bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        close(fd_);
        fd_ = -1;
        return;
    }
    port_ = ntohs(local.sin_port);
}

BareReceiver::~BareReceiver() {
    Stop();
    if (fd_ >= 0) {
        close(fd_);
    }
}

void BareReceiver::Start() {
    if (Ok() && !thread_.joinable()) {
        thread_ = std::thread(&BareReceiver::Run, this);
    }
}

void BareReceiver::Stop() {
    stop_.store(true);
    if (thread_.joinable()) {
        thread_.join();
    }
}

std::chrono::steady_clock::time_point BareReceiver::LastReceived() const {
    return std::chrono::steady_clock::time_point(
        std::chrono::steady_clock::duration(lastReceived_.load()));
}

void BareReceiver::Run() {
    std::vector<std::array<std::uint8_t, kSlotSize>> buffers(kSlots);
    std::array<iovec, kSlots> vectors{};
    std::array<mmsghdr, kSlots> headers{};
    while (!stop_.load()) {
        pollfd watch{fd_, POLLIN, 0};
        if (poll(&watch, 1, 20) <= 0) {
            continue;
        }
        for (std::size_t i = 0; i < kSlots; ++i) {
            vectors[i] = {buffers[i].data(), kSlotSize};
            headers[i] = mmsghdr{};
            headers[i].msg_hdr.msg_iov = &vectors[i];
            headers[i].msg_hdr.msg_iovlen = 1;
        }
        const int count = recvmmsg(fd_, headers.data(), kSlots, MSG_DONTWAIT | MSG_TRUNC, nullptr);
        if (count > 0) {
            received_.fetch_add(static_cast<std::size_t>(count));
            lastReceived_.store(std::chrono::steady_clock::now().time_since_epoch().count());
        }
    }
}

}  // namespace ingest_bench
