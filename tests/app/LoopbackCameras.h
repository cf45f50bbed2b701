#pragma once
// Simulated cameras for tests that search over loopback: the simulator
// listens on a free loopback port and answers to the port the test's worker
// receives on, within bounds in time and in requests.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "tools/camsim/CamSimServer.h"

namespace qdipc::test {

// Kinds are used camera by camera in turn; the simulator stops after 30 s or
// maxRequests requests, whichever comes first.
inline camsim::ServerOptions LoopbackCameraOptions(std::uint16_t replyPort, std::size_t maxRequests,
                                                   std::vector<camsim::ReplyKind> kinds = {
                                                       camsim::ReplyKind::Normal}) {
    camsim::ServerOptions options;
    options.listen = {"127.0.0.1", 0};
    options.replyTo = {"127.0.0.1", replyPort};
    options.kinds = std::move(kinds);
    options.maxRunTime = std::chrono::seconds(30);
    options.maxRequests = maxRequests;
    return options;
}

}  // namespace qdipc::test
