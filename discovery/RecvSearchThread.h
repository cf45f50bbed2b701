#pragma once
// The receive worker: one background thread with a UDP socket bound to
// 0.0.0.0:8089. The socket is bound on the caller's thread (Bind, or Start
// which binds first), so that a search binds it before its first request
// leaves and no early reply is lost; a failed bind writes entry 525 and may be
// tried again later. For every datagram the thread checks, in this order, the
// length, the search ID (read afresh each time) and the signature, and hands
// accepted replies, with the interface each came in on, to a ReplyQueue in
// batches. It writes entries 575 and 587 to the error log. Its owner can stop
// and join it at any time, also while it waits for datagrams.
//
// Without a window (the command-line mode): construct, Bind(), run the
// SearchCommand, Start(), wait, take the replies from the queue, Stop().

#include <atomic>
#include <cstdint>
#include <thread>

#include "discovery/ErrorLog.h"
#include "discovery/ReplyQueue.h"
#include "platform/UdpSocket.h"

namespace qdipc {

struct ReceiverConfig {
    Ipv4Endpoint bind{"0.0.0.0", kToolReceivePort};
    // The Linux default holds only ~166 replies; bursts of thousands need more,
    // and a flood of 200,000 datagrams a second needs some 150 ms of room for
    // the moments the worker waits for a CPU.
    int receiveBufferBytes = 32 * 1024 * 1024;
};

class RecvSearchThread {
public:
    enum class State { NotStarted, Running, Ended };

    RecvSearchThread(const std::atomic<std::uint32_t>& searchId, ReplyQueue& queue, ErrorLog& log,
                     ReceiverConfig config = {});
    ~RecvSearchThread();  // Stop()
    RecvSearchThread(const RecvSearchThread&) = delete;
    RecvSearchThread& operator=(const RecvSearchThread&) = delete;

    // Binds the receive socket now, on the caller's thread. True when it is
    // bound (now or before). A failed bind writes entry 525, leaves the worker
    // not started and may be tried again; false too once stopped.
    bool Bind();
    bool IsBound() const { return boundPort_.load() != 0; }
    // Binds if not yet bound, then starts the thread; false when the bind
    // failed or the thread could not be started (then it may be tried again).
    // Once started (or ended) it answers true and starts nothing more.
    bool Start();
    // Ends the loop and joins the thread; returns promptly even while the
    // worker waits in its receive call. Safe to call more than once.
    void Stop();

    State GetState() const { return state_.load(); }
    // The receive buffer the system granted (0 until the socket is set up).
    int EffectiveReceiveBuffer() const { return effectiveBuffer_.load(); }
    // The bound port once bound (useful with port 0 in tests), else 0.
    std::uint16_t BoundPort() const { return boundPort_.load(); }

private:
    void Run();

    const std::atomic<std::uint32_t>& searchId_;
    ReplyQueue& queue_;
    ErrorLog& log_;
    ReceiverConfig config_;
    UdpSocket socket_;
    std::atomic<bool> stopFlag_{false};
    std::atomic<State> state_{State::NotStarted};
    std::atomic<int> effectiveBuffer_{0};
    std::atomic<std::uint16_t> boundPort_{0};
    std::thread thread_;
};

}  // namespace qdipc
