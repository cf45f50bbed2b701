#include "ui/qt/AssignRun.h"

#include <algorithm>

#include "settings/SettingsValidation.h"

namespace qdipc {

ChangeRunsTimer::ChangeRunsTimer(ChangeRuns& runs, QObject* parent) : QObject(parent), runs_(runs) {
    tick_.setSingleShot(true);
    tick_.setTimerType(Qt::PreciseTimer);
    connect(&tick_, &QTimer::timeout, this, [this] {
        runs_.Tick(ChangeRuns::Clock::now());
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
    const auto due = runs_.NextDue();
    if (!due) {
        tick_.stop();
        return;
    }
    const auto wait =
        std::chrono::duration_cast<std::chrono::milliseconds>(*due - ChangeRuns::Clock::now());
    tick_.start(std::max<qint64>(0, wait.count() + (wait.count() >= 0 ? 1 : 0)));
}

AssignRun::AssignRun(ChangeRunsTimer& runs, std::vector<AssignOrder> orders, Options options,
                     QObject* parent)
    : QObject(parent), runs_(runs), orders_(std::move(orders)), options_(std::move(options)) {
    // A run ends within a step of the runs (its last result comes while the
    // engine is still at work): it says so once the step is over.
    connect(&runs_, &ChangeRunsTimer::Stepped, this, &AssignRun::CheckFinished);
}

AssignRun::~AssignRun() {
    if (probing_.valid()) {
        probing_.wait();
    }
}

void AssignRun::Start() {
    if (IsStarted()) {
        return;
    }
    if (!options_.probeAddresses) {
        StartSession();
        return;
    }
    for (const AssignOrder& order : orders_) {
        const auto address = ParseIpv4Strict(order.newIp);
        if (address && order.mode == AddressingMode::Static && order.newIp != order.camera.ip) {
            probedAddresses_.push_back(*address);
        }
    }
    probing_ = std::async(std::launch::async,
                          [prober = options_.probeAddresses, addresses = probedAddresses_] {
                              return prober(addresses);
                          });
    probeWait_.setInterval(20);
    connect(&probeWait_, &QTimer::timeout, this, [this] {
        if (probing_.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
            return;
        }
        probeWait_.stop();
        const std::vector<ProbeAnswer> answers = probing_.get();
        for (std::size_t i = 0; i < answers.size() && i < probedAddresses_.size(); ++i) {
            probed_[probedAddresses_[i]] = answers[i];
        }
        StartSession();
    });
    probeWait_.start();
}

void AssignRun::StartSession() {
    BatchRunOptions batch;
    batch.rollback = options_.rollback;
    batch.pacing = options_.pacing;
    batch.stopped = stopped_;
    if (options_.probeAddresses) {
        // The answers the probe gave before the run started.
        batch.probed = [this](const std::vector<std::uint32_t>& addresses) {
            std::vector<ProbeAnswer> answers;
            for (std::uint32_t address : addresses) {
                const auto found = probed_.find(address);
                answers.push_back(found == probed_.end() ? ProbeAnswer::NotProbed : found->second);
            }
            return answers;
        };
    }
    QPointer<AssignRun> self(this);
    session_ = runs_.Runs().StartBatchRun(orders_, std::move(batch), ChangeRuns::Clock::now(),
                                          [self](std::size_t index, const ProvisioningCamera&) {
                                              if (self) {
                                                  self->ReportResult(static_cast<int>(index));
                                              }
                                          });
    // The cameras whose result came with the first step.
    for (int index : std::exchange(early_, {})) {
        ReportResult(index);
    }
    runs_.Arm();
    CheckFinished();
}

void AssignRun::ReportResult(int index) {
    if (!session_) {
        early_.push_back(index);
        return;
    }
    emit ResultChanged(index);
}

void AssignRun::CheckFinished() {
    if (session_ && session_->Finished() && !finishedReported_) {
        finishedReported_ = true;
        emit Finished();
    }
}

void AssignRun::StopSending() {
    if (!session_) {
        stopped_ = true;  // still probing: it stops once it starts
        return;
    }
    runs_.Runs().StopSending(ChangeRuns::Clock::now());
    runs_.Arm();
    CheckFinished();
}

QString AssignRun::RollbackPath() const {
    return session_ ? QString::fromStdString(session_->RollbackPath().string()) : QString();
}

QString AssignRun::RollbackError() const {
    return session_ ? QString::fromStdString(session_->RollbackError()) : QString();
}

QString AssignRun::Failure() const {
    return session_ ? QString::fromStdString(session_->Failure()) : QString();
}

}  // namespace qdipc
