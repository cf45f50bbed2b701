#include "settings/AssignRun.h"

#include <algorithm>
#include <cctype>

namespace qdipc {
namespace {

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

}  // namespace

AssignRun::AssignRun(std::vector<AssignOrder> orders, Hooks hooks, QObject* parent)
    : QObject(parent),
      orders_(std::move(orders)),
      hooks_(std::move(hooks)),
      results_(orders_.size(), Result::Planned) {
    for (std::size_t i = 0; i < orders_.size(); ++i) {
        byDeviceId_.emplace(Lower(orders_[i].camera.deviceId), i);
    }
    sendTimer_.setInterval(hooks_.pacing);
    sendTimer_.setTimerType(Qt::PreciseTimer);
    connect(&sendTimer_, &QTimer::timeout, this, &AssignRun::SendNext);
}

QString AssignRun::ResultText(Result result) {
    switch (result) {
        case Result::Planned:
            return {};
        case Result::Sent:
            return QStringLiteral("sent");
        case Result::NotSent:
            return QStringLiteral("not sent");
        case Result::Confirmed:
            return QStringLiteral("confirmed");
        case Result::NotConfirmed:
            return QStringLiteral("not confirmed");
    }
    return {};
}

void AssignRun::Start() {
    if (orders_.empty()) {
        FinishWhenDone();
        return;
    }
    SendNext();
    if (nextToSend_ < orders_.size()) {
        sendTimer_.start();
    }
}

void AssignRun::SendNext() {
    if (nextToSend_ >= orders_.size()) {
        sendTimer_.stop();
        return;
    }
    const std::size_t index = nextToSend_++;
    const AssignOrder& order = orders_[index];
    const bool sent = hooks_.send && hooks_.send(order.Record(), order.camera.arrivalInterface);
    SetResult(index, sent ? Result::Sent : Result::NotSent);
    if (nextToSend_ == orders_.size()) {
        sendTimer_.stop();
        FinishWhenDone();
    }
}

bool AssignRun::OnOutcome(const std::string& deviceId, bool confirmed) {
    const auto found = byDeviceId_.find(Lower(deviceId));
    if (finished_ || found == byDeviceId_.end() || results_[found->second] != Result::Sent) {
        return false;
    }
    confirmed_ += confirmed ? 1 : 0;
    SetResult(found->second, confirmed ? Result::Confirmed : Result::NotConfirmed);
    FinishWhenDone();
    return true;
}

void AssignRun::FinishWhenDone() {
    if (finished_ || nextToSend_ < orders_.size()) {
        return;
    }
    const bool waiting =
        std::any_of(results_.begin(), results_.end(), [](Result r) { return r == Result::Sent; });
    if (waiting && hooks_.confirming) {
        return;
    }
    finished_ = true;
    emit Finished();
}

void AssignRun::SetResult(std::size_t index, Result result) {
    results_[index] = result;
    emit ResultChanged(static_cast<int>(index));
}

}  // namespace qdipc
