#pragma once
// The yardstick for the receive worker: a thread that only counts the
// datagrams on a UDP socket, with recvmmsg in batches of the worker's size
// and the same receive buffer request, and does nothing else with them.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <thread>

namespace ingest_bench {

class BareReceiver {
public:
    // Binds 127.0.0.1:0 and asks for bufferBytes of receive buffer the way
    // the worker's socket does (SO_RCVBUF, then SO_RCVBUFFORCE when short).
    explicit BareReceiver(int bufferBytes);
    ~BareReceiver();  // Stop()
    BareReceiver(const BareReceiver&) = delete;
    BareReceiver& operator=(const BareReceiver&) = delete;

    bool Ok() const { return fd_ >= 0; }
    std::uint16_t Port() const { return port_; }
    int EffectiveBuffer() const { return effectiveBuffer_; }

    void Start();
    void Stop();

    std::size_t Received() const { return received_.load(); }
    std::chrono::steady_clock::time_point LastReceived() const;

private:
    void Run();

    int fd_ = -1;
    std::uint16_t port_ = 0;
    int effectiveBuffer_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<std::size_t> received_{0};
    std::atomic<std::chrono::steady_clock::rep> lastReceived_{0};
    std::thread thread_;
};

}  // namespace ingest_bench
