#pragma once
// Runs the simulator in-process on its own thread, for tests and benchmarks:
// the server listens (typically on 127.0.0.1 port 0), its output lines are
// collected, and Stop() (or the destructor) ends and joins it. The options'
// bounds (run time, request count) still apply, so a forgotten runner ends by
// itself.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tools/camsim/CamSimServer.h"
#include "tools/camsim/CameraSet.h"

namespace camsim {

class CamSimThread {
public:
    CamSimThread(std::size_t cameraCount, std::uint32_t base, ServerOptions options);
    ~CamSimThread();  // Stop()
    CamSimThread(const CamSimThread&) = delete;
    CamSimThread& operator=(const CamSimThread&) = delete;

    // Binds the listening socket and starts serving; false with the reason.
    bool Start(std::string& error);
    // The port the server listens on, 0 before Start().
    std::uint16_t Port() const { return port_; }

    // The cameras: read them before Start() or after Stop(), as the serving
    // thread changes them when a modify record arrives.
    const CameraSet& Cameras() const { return cameras_; }

    // A copy of the output lines so far.
    std::vector<std::string> Lines() const;
    // Waits until a line containing fragment has been written, or timeout.
    bool WaitForLine(std::string_view fragment, std::chrono::milliseconds timeout) const;

    // Ends the serving loop and joins it; the counts of the run. Safe to call
    // more than once.
    ServerCounts Stop();

private:
    void AddLine(std::string_view line);

    CameraSet cameras_;
    CamSimServer server_;
    std::atomic<bool> stop_{false};
    std::uint16_t port_ = 0;
    ServerCounts counts_;
    std::thread thread_;
    mutable std::mutex mutex_;
    mutable std::condition_variable lineAdded_;
    std::vector<std::string> lines_;
};

}  // namespace camsim
