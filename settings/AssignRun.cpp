#include "settings/AssignRun.h"

#include <algorithm>

namespace qdipc {
namespace {

ProvisioningOptions OptionsOf(const AssignRun::Hooks& hooks) {
    ProvisioningOptions options;
    options.pacing = hooks.pacing;
    options.confirmation = hooks.confirmation;
    options.rollback = hooks.rollback;
    options.rollbackDirectory = hooks.rollbackDirectory;
    return options;
}

}  // namespace

AssignRun::AssignRun(std::vector<AssignOrder> orders, Hooks hooks, QObject* parent)
    : QObject(parent),
      orders_(std::move(orders)),
      session_(
          OptionsOf(hooks),
          ProvisioningHooks{std::move(hooks.send),
                            [probe = std::move(hooks.probe)](bool) { return probe && probe(); },
                            {},
                            [this](const ProvisioningEvent& event) {
                                if (event.kind == ProvisioningEvent::Kind::Result) {
                                    emit ResultChanged(static_cast<int>(event.index));
                                }
                            },
                            {}},
          hooks.reservations) {
    tick_.setSingleShot(true);
    tick_.setTimerType(Qt::PreciseTimer);
    connect(&tick_, &QTimer::timeout, this, [this] {
        session_.Tick(ProvisioningSession::Clock::now());
        Arm();
    });
}

QString AssignRun::ResultText(CameraResult result) {
    switch (result) {
        case CameraResult::Planned:
            return {};
        case CameraResult::Sent:
            return QStringLiteral("sent");
        case CameraResult::Confirmed:
            return QStringLiteral("confirmed");
        case CameraResult::NotConfirmed:
            return QStringLiteral("not confirmed");
        case CameraResult::Conflict:
            return QStringLiteral("conflict");
        case CameraResult::Refused:
            return QStringLiteral("refused");
        case CameraResult::NotFound:
            return QStringLiteral("not found");
    }
    return {};
}

void AssignRun::Start() {
    if (started_) {
        return;
    }
    started_ = true;
    session_.Start(orders_, ProvisioningSession::Clock::now());
    Arm();
}

void AssignRun::OnReplies(const std::vector<AcceptedReply>& replies) {
    if (!started_ || session_.Finished()) {
        return;
    }
    session_.OnReplies(replies, ProvisioningSession::Clock::now());
    Arm();
}

void AssignRun::StopSending() {
    if (!started_) {
        return;
    }
    session_.StopSending(ProvisioningSession::Clock::now());
    Arm();
}

int AssignRun::UnsentCount() const {
    return started_ ? CountOf(CameraResult::Planned) : Total();
}

int AssignRun::WaitingCount() const {
    return session_.Finished() ? 0 : CountOf(CameraResult::Sent);
}

QString AssignRun::RollbackPath() const {
    return QString::fromStdString(session_.RollbackPath().string());
}

void AssignRun::Arm() {
    if (session_.Finished()) {
        tick_.stop();
        if (!finishedReported_) {
            finishedReported_ = true;
            emit Finished();
        }
        return;
    }
    if (const auto due = session_.NextDue()) {
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
            *due - ProvisioningSession::Clock::now());
        tick_.start(std::max<qint64>(0, wait.count() + (wait.count() >= 0 ? 1 : 0)));
    }
}

}  // namespace qdipc
