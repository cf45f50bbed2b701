#include "ui/qt/AssignRun.h"

#include <QPointer>
#include <algorithm>
#include <chrono>

namespace qdipc {

ChangeRunsTimer::ChangeRunsTimer(ChangeRuns& runs, Stepping stepping, QObject* parent)
    : QObject(parent), runs_(runs), stepping_(std::move(stepping)) {
    if (!stepping_.nextDue || !stepping_.tick) {
        stepping_.nextDue = [this] { return runs_.NextDue(); };
        stepping_.tick = [this](ChangeRuns::Clock::time_point now) { runs_.Tick(now); };
    }
    tick_.setSingleShot(true);
    tick_.setTimerType(Qt::PreciseTimer);
    connect(&tick_, &QTimer::timeout, this, [this] {
        stepping_.tick(ChangeRuns::Clock::now());
        Arm();
        emit Stepped();
    });
}

void ChangeRunsTimer::OnReplies(const std::vector<AcceptedReply>& replies) {
    if (!runs_.Going()) {
        return;
    }
    runs_.OnReplies(replies, ChangeRuns::Clock::now());
    Arm();
    emit Stepped();
}

void ChangeRunsTimer::Arm() {
    const auto due = stepping_.nextDue();
    if (!due) {
        tick_.stop();
        return;
    }
    const auto wait =
        std::chrono::duration_cast<std::chrono::milliseconds>(*due - ChangeRuns::Clock::now());
    tick_.start(std::max<qint64>(0, wait.count() + (wait.count() >= 0 ? 1 : 0)));
}

AssignRun::AssignRun(ChangeRunsTimer& runs, std::vector<AssignOrder> orders, bool rollback,
                     QObject* parent)
    : QObject(parent), runs_(runs), orders_(std::move(orders)), rollback_(rollback) {}

void AssignRun::Start() {
    if (started_) {
        return;
    }
    started_ = true;
    QPointer<AssignRun> self(this);
    ChangeRuns::BatchSinks sinks;
    sinks.onResult = [self](std::size_t index, const ProvisioningCamera& camera) {
        if (!self) {
            return;
        }
        if (self->cameras_.size() <= index) {
            self->cameras_.resize(index + 1);
        }
        self->cameras_[index] = camera;
        emit self->ResultChanged(static_cast<int>(index));
    };
    sinks.onState = [self](const ChangeRuns::BatchState& state) {
        if (!self) {
            return;
        }
        const bool ends = state.finished && !self->state_.finished;
        self->state_ = state;
        if (ends) {
            emit self->Finished();
        }
    };
    runs_.Runs().StartBatch(orders_, rollback_, ChangeRuns::Clock::now(), std::move(sinks));
    runs_.Arm();
}

int AssignRun::CountOf(CameraResult result) const {
    return static_cast<int>(std::count_if(
        cameras_.begin(), cameras_.end(),
        [result](const ProvisioningCamera& camera) { return camera.result == result; }));
}

QString AssignRun::RollbackPath() const {
    return QString::fromStdString(state_.rollbackPath.string());
}

}  // namespace qdipc
