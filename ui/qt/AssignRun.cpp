#include "ui/qt/AssignRun.h"

#include "settings/SettingsValidation.h"

#include <algorithm>

namespace qdipc {
namespace {

ProvisioningOptions OptionsOf(const AssignRun::Hooks& hooks) {
    ProvisioningOptions options;
    options.pacing = hooks.pacing;
    options.confirmation = hooks.confirmation;
    options.rollback = hooks.rollback;
    options.rollbackDirectory = hooks.rollbackDirectory;
    options.probes = hooks.probes;
    return options;
}

}  // namespace

AssignRun::AssignRun(std::vector<AssignOrder> orders, Hooks hooks, QObject* parent)
    : QObject(parent),
      orders_(std::move(orders)),
      prober_(std::move(hooks.probeAddresses)),
      session_(OptionsOf(hooks),
               ProvisioningHooks{
                   std::move(hooks.send),
                   {},
                   std::move(hooks.probe),
                   {},
                   [this](const ProvisioningEvent& event) {
                       if (event.kind == ProvisioningEvent::Kind::Result) {
                           emit ResultChanged(static_cast<int>(event.index));
                       }
                   },
                   // The answers the probe gave before the session started.
                   prober_ ? AddressProber([this](const std::vector<std::uint32_t>& a) {
                       std::vector<ProbeAnswer> answers;
                       for (std::uint32_t address : a) {
                           const auto found = probed_.find(address);
                           answers.push_back(found == probed_.end() ? ProbeAnswer::NotProbed
                                                                    : found->second);
                       }
                       return answers;
                   })
                           : AddressProber{}},
               hooks.reservations) {
    tick_.setSingleShot(true);
    tick_.setTimerType(Qt::PreciseTimer);
    connect(&tick_, &QTimer::timeout, this, [this] {
        session_.Tick(ProvisioningSession::Clock::now());
        Arm();
    });
}

AssignRun::~AssignRun() {
    if (probing_.valid()) {
        probing_.wait();
    }
}

void AssignRun::Start() {
    if (started_ || probing_.valid()) {
        return;
    }
    if (!prober_) {
        StartSession();
        return;
    }
    for (const AssignOrder& order : orders_) {
        const auto address = ParseIpv4Strict(order.newIp);
        if (address && order.mode == AddressingMode::Static && order.newIp != order.camera.ip) {
            probedAddresses_.push_back(*address);
        }
    }
    probing_ = std::async(std::launch::async, [prober = prober_, addresses = probedAddresses_] {
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
        if (probing_.valid()) {
            session_.StopSending(ProvisioningSession::Clock::now());  // nothing will go
        }
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
