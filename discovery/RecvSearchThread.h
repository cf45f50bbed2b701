#pragma once
// The receive worker: one background thread with a UDP socket bound to
// 0.0.0.0:8089. The socket is bound on the caller's thread (Bind, or Start
// which binds first), so that a search binds it before its first request
// leaves and no early reply is lost; a failed bind writes entry 525 and may be
// tried again later. For every datagram the thread checks, in this order, the
// length, the search ID (read afresh each time) and the signature, and hands
// accepted replies, with the interface each came in on, to a ReplyQueue in
// batches. It writes entries 575 and 587 to the error log, and counts the
// datagrams it rejects, by reason and sender, for the network diagnosis. Its
// owner can stop and join it at any time, also while it waits for datagrams.
//
// Without a window (the command-line mode): construct, Bind(), run the
// SearchCommand, Start(), wait, take the replies from the queue, Stop().

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

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

// Datagrams that arrived on the receive port but were not taken as replies,
// since the tally was last cleared.
struct RejectTally {
    // The first senders seen, in order of first arrival, with their counts;
    // beyond kMaxSenders the rest are only counted in otherSenders.
    struct Sender {
        std::uint32_t address = 0;  // host byte order; 0 when the system did not say
        std::uint64_t count = 0;
    };
    static constexpr std::size_t kMaxSenders = 8;

    std::uint64_t wrongLength = 0;  // empty or longer than a reply
    std::uint64_t otherSearch = 0;  // a search ID other than the current one
    std::uint64_t noSignature = 0;  // the current search ID without a signature
    std::vector<Sender> senders;
    std::uint64_t otherSenders = 0;  // datagrams of senders beyond kMaxSenders

    std::uint64_t Total() const { return wrongLength + otherSearch + noSignature; }
    // Adds another tally's counts and senders to this one.
    void Merge(const RejectTally& other);
    void CountSender(std::uint32_t address, std::uint64_t count);
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

    // The datagrams rejected since the last ClearRejected (or the start), from
    // any thread. A search clears it when it starts, so it tells what arrived
    // during that search.
    RejectTally Rejected() const;
    void ClearRejected();

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
    mutable std::mutex rejectedMutex_;
    RejectTally rejected_;
    std::thread thread_;
};

}  // namespace qdipc
