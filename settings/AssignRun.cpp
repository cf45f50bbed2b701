#include "settings/AssignRun.h"

namespace qdipc {

AssignRun::AssignRun(std::vector<AssignOrder> orders, Hooks hooks, QObject* parent)
    : QObject(parent),
      tracker_(std::move(orders)),
      hooks_(std::move(hooks)),
      results_(tracker_.Orders().size(), Result::Planned) {
    sendTimer_.setInterval(hooks_.pacing);
    sendTimer_.setTimerType(Qt::PreciseTimer);
    connect(&sendTimer_, &QTimer::timeout, this, &AssignRun::SendNext);
    probeTimer_.setInterval(hooks_.probeInterval);
    connect(&probeTimer_, &QTimer::timeout, this, &AssignRun::Probe);
    deadline_.setSingleShot(true);
    deadline_.setInterval(hooks_.verifyWait);
    connect(&deadline_, &QTimer::timeout, this, &AssignRun::Finish);
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
    if (results_.empty()) {
        Finish();
        return;
    }
    SendNext();
    sendTimer_.start();
}

void AssignRun::SendNext() {
    if (nextToSend_ >= results_.size()) {
        sendTimer_.stop();
        return;
    }
    const std::size_t index = nextToSend_++;
    const AssignOrder& order = tracker_.Orders()[index];
    const bool sent = hooks_.send && hooks_.send(order.Record(), order.camera.arrivalInterface);
    if (sent) {
        tracker_.MarkSent(index);
    }
    SetResult(index, sent ? Result::Sent : Result::NotSent);
    if (nextToSend_ == results_.size()) {
        sendTimer_.stop();
        // Cameras restart their network after a change; the probes go on
        // until every camera has answered or the wait is over.
        probeTimer_.start();
        deadline_.start();
        Probe();
    }
}

void AssignRun::Probe() {
    if (tracker_.AllConfirmed() || finished_) {
        return;
    }
    if (hooks_.probe) {
        hooks_.probe();
    }
}

bool AssignRun::Observe(const std::string& deviceId, const std::string& ip, const std::string& mask,
                        const std::string& gateway, const std::string& mac) {
    if (finished_) {
        return false;
    }
    if (const auto index = tracker_.Observe(deviceId, ip, mask, gateway, mac)) {
        SetResult(*index, Result::Confirmed);
        bool open = false;
        for (Result result : results_) {
            open = open || result == Result::Sent || result == Result::Planned;
        }
        if (!open) {
            Finish();
        }
        return true;
    }
    return false;
}

void AssignRun::Finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    sendTimer_.stop();
    probeTimer_.stop();
    deadline_.stop();
    for (std::size_t i = 0; i < results_.size(); ++i) {
        if (results_[i] == Result::Sent) {
            SetResult(i, Result::NotConfirmed);
        }
    }
    emit Finished();
}

void AssignRun::SetResult(std::size_t index, Result result) {
    results_[index] = result;
    emit ResultChanged(static_cast<int>(index));
}

}  // namespace qdipc
