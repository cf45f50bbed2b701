#include "tools/camsim/CamSimThread.h"

#include <algorithm>

namespace camsim {

CamSimThread::CamSimThread(std::size_t cameraCount, std::uint32_t base, ServerOptions options)
    : cameras_(cameraCount, base),
      server_(cameras_, std::move(options), [this](std::string_view line) { AddLine(line); }) {}

CamSimThread::~CamSimThread() {
    Stop();
}

bool CamSimThread::Start(std::string& error) {
    if (thread_.joinable() || !server_.Open(error)) {
        return false;
    }
    port_ = server_.LocalPort();
    thread_ = std::thread([this] { counts_ = server_.Run(stop_); });
    return true;
}

std::vector<std::string> CamSimThread::Lines() const {
    const std::lock_guard lock(mutex_);
    return lines_;
}

bool CamSimThread::WaitForLine(std::string_view fragment, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return lineAdded_.wait_for(lock, timeout, [&] {
        return std::any_of(lines_.begin(), lines_.end(), [&](const std::string& line) {
            return line.find(fragment) != std::string::npos;
        });
    });
}

ServerCounts CamSimThread::Stop() {
    stop_.store(true);
    if (thread_.joinable()) {
        thread_.join();
    }
    return counts_;
}

void CamSimThread::AddLine(std::string_view line) {
    {
        const std::lock_guard lock(mutex_);
        lines_.emplace_back(line);
    }
    lineAdded_.notify_all();
}

}  // namespace camsim
