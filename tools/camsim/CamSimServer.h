#pragma once
// The simulator's serving loop: receives on the cameras' command port,
// answers each discovery request with one reply per camera, applies modify
// records, and writes one readable line per datagram. Like a real camera, one
// that takes a modify record may restart its network and answer nothing for a
// while; for tests it can also ignore records, fall silent for good after one,
// or miss requests. Like a real camera, each camera can answer from its own
// address (a socket per address, see ownAddressDevice). As a misbehaving
// host it can instead answer for cameras it is not (spoof). It stops on a flag, after
// a run time or after a number of requests, whichever comes first, so tests
// can run it on a thread with bounds.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/camsim/CameraSet.h"
#include "tools/camsim/Endpoint.h"
#include "tools/camsim/ReplyEncoder.h"

namespace camsim {

struct ServerOptions {
    Endpoint listen{"0.0.0.0", kCommandPort};
    // Where replies go, unless replyToSender is set.
    Endpoint replyTo{"255.255.255.255", kToolPort};
    // Answer to the request's source address at replyPort instead.
    bool replyToSender = false;
    std::uint16_t replyPort = kToolPort;
    // Reply kinds, used camera by camera in turn (camera i gets kinds[i % size]).
    std::vector<ReplyKind> kinds{ReplyKind::Normal};
    ReplyShape shape;
    // A camera that applied a modify record answers no request for this long,
    // then answers with its new settings (zero: at once).
    std::chrono::milliseconds restartTime{0};
    // Modify records are printed but never applied.
    bool ignoreModify = false;
    // A camera that applied a modify record never answers again.
    bool silentAfterModify = false;
    // Camera i answers request r (counted from 0 over the run) only when
    // (r + i) % missEvery is 0: with 2, half the cameras miss each request and
    // every camera misses every second one. 0 and 1 answer every request.
    std::size_t missEvery = 1;
    // A replaying host: this long after a camera receives a modify record
    // (taken or not), the reply it sent last before the record (its settings
    // then, under that request's search ID) goes out again from its old
    // address. Zero: nothing is replayed.
    std::chrono::milliseconds replayAfter{0};
    // When set (a Linux interface name), each camera's replies leave from a
    // socket bound to the camera's own address on this interface, as from a
    // real camera, whether or not the namespace holds the address (needs
    // CAP_NET_ADMIN). A camera that takes a new address answers from it.
    // Empty: every reply leaves from the listening socket.
    std::string ownAddressDevice;
    // A spoofing host: it answers for none of its own cameras; every modify
    // record it sees is remembered, and every later discovery request is
    // answered, from this host's own address, with one reply per remembered
    // record that carries the record's device ID and new settings.
    bool spoof = false;
    // Zero means no limit.
    std::chrono::milliseconds maxRunTime{0};
    std::size_t maxRequests = 0;
};

enum class StopReason { StopFlag, RunTime, RequestCount, SocketError };

struct ServerCounts {
    std::size_t requests = 0;
    std::size_t modifyRecords = 0;
    std::size_t modifyApplied = 0;
    std::size_t ignored = 0;
    std::size_t repliesSent = 0;
    std::size_t repliesFailed = 0;
    // Replies not sent because the camera was silent or missed the request.
    std::size_t repliesWithheld = 0;
    // Replies sent for cameras this host is not (spoof mode).
    std::size_t repliesSpoofed = 0;
    std::size_t repliesReplayed = 0;
    StopReason stopReason = StopReason::StopFlag;
};

// Receives each output line, without its line end.
using LineSink = std::function<void(std::string_view)>;

class CamSimServer {
public:
    CamSimServer(CameraSet& cameras, ServerOptions options, LineSink sink);
    ~CamSimServer();
    CamSimServer(const CamSimServer&) = delete;
    CamSimServer& operator=(const CamSimServer&) = delete;

    // Creates the socket (broadcast allowed) and binds it; on failure returns
    // false with the reason in error.
    bool Open(std::string& error);
    // The bound port (the system's choice when listening on port 0).
    std::uint16_t LocalPort() const;

    // Serves until stop becomes true or a bound of the options is reached.
    // Checks the flag at least every 50 ms. Call after Open().
    ServerCounts Run(const std::atomic<bool>& stop);

private:
    void Handle(const std::uint8_t* data, std::size_t length, const sockaddr_in& from,
                ServerCounts& counts);
    // Sends the replies; returns what was done, for the request's line.
    std::string Answer(const DecodedRequest& request, const sockaddr_in& from,
                       ServerCounts& counts);

    using Clock = std::chrono::steady_clock;
    // Sends the replays that are due; the time until the next, if any.
    std::optional<Clock::duration> SendDueReplays(ServerCounts& counts);
    // Whether camera index answers the request with this number.
    bool Answers(std::size_t index, std::size_t requestNumber, Clock::time_point now) const;
    // The socket camera replies from: the one bound to ip (made on first
    // use), or the listening socket without ownAddressDevice or for a text
    // that is not an address. -1 with the reason when it cannot be made.
    int SourceSocket(const std::string& ip, std::string& error);

    CameraSet& cameras_;
    ServerOptions options_;
    // Per camera: answers nothing before this time (a restart after a modify).
    std::vector<Clock::time_point> silentUntil_;
    // Per camera: answers nothing any more.
    std::vector<bool> silentForGood_;
    LineSink sink_;
    int fd_ = -1;
    // Sockets by source address (ownAddressDevice).
    std::map<std::string, int> sourceSockets_;
    // Spoof mode: the remembered records' cameras, by device ID.
    std::map<DevId, CameraFields> spoofed_;
    // The latest request answered: its search ID and where its replies went.
    std::optional<std::uint32_t> lastSearchId_;
    sockaddr_in lastDestination_{};
    struct Replay {
        Clock::time_point due;
        std::size_t index;
        CameraFields camera;  // as it was before the record
        std::uint32_t searchId;
    };
    std::vector<Replay> replays_;
};

}  // namespace camsim
