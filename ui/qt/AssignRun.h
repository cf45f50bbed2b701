#pragma once
// The window's settings runs on the Qt event loop. ChangeRunsTimer steps the
// window's one ChangeRuns (every Modify and batch, their confirmations and
// counts) at its next due time and on every reply. AssignRun is one batch as
// a dialog follows it: the run belongs to the main window, not to the dialog
// that started it, so closing the dialog stops nothing, and the cameras' new
// values still reach the list.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <unordered_map>
#include <vector>

#include "settings/BatchAssign.h"
#include "settings/ProvisioningSession.h"
#include "ui/ChangeRuns.h"

namespace qdipc {

class ChangeRunsTimer : public QObject {
    Q_OBJECT
public:
    explicit ChangeRunsTimer(ChangeRuns& runs, QObject* parent = nullptr);

    ChangeRuns& Runs() { return runs_; }
    const ChangeRuns& Runs() const { return runs_; }
    // Every reply the receive worker accepted, in arrival order.
    void OnReplies(const std::vector<AcceptedReply>& replies);
    // The timer set to the runs' next due time (after a run started).
    void Arm();

signals:
    // The runs took a step: results, counts and the bar's text may have
    // changed.
    void Stepped();

private:
    ChangeRuns& runs_;
    QTimer tick_;
};

class AssignRun : public QObject {
    Q_OBJECT
public:
    struct Options {
        // Whether the rollback plan is written before the first record;
        // when it cannot be, nothing is sent (Failure()).
        bool rollback = true;
        std::chrono::milliseconds pacing = kAssignPacing;
        // Probes the orders' addresses just before the first record, on a
        // thread of its own (the window stays responsive for its second); an
        // address that answers is refused. Empty: no probe.
        AddressProber probeAddresses{};
    };

    AssignRun(ChangeRunsTimer& runs, std::vector<AssignOrder> orders, Options options,
              QObject* parent = nullptr);
    // Waits for a probe still running (at most its wait).
    ~AssignRun() override;

    // Sends the first record at once and the others paced; with a probe,
    // once the probe has answered.
    void Start();
    // The records not sent yet end "not confirmed" (not sent: the run was
    // stopped); the ones sent keep being confirmed. The window calls it for
    // every run when it closes.
    void StopSending();

    const std::vector<AssignOrder>& Orders() const { return orders_; }
    // A camera's result; only once ResultChanged named it.
    const ProvisioningCamera& CameraAt(std::size_t index) const {
        return session_->Cameras()[index];
    }
    CameraResult ResultOf(std::size_t index) const { return CameraAt(index).result; }
    int Total() const { return static_cast<int>(orders_.size()); }
    int CountOf(CameraResult result) const {
        return session_ ? static_cast<int>(session_->CountOf(result)) : 0;
    }
    int ConfirmedCount() const { return CountOf(CameraResult::Confirmed); }
    // Records not sent yet, and changes sent that wait for the camera.
    int UnsentCount() const { return session_ ? CountOf(CameraResult::Planned) : Total(); }
    int WaitingCount() const { return IsFinished() ? 0 : CountOf(CameraResult::Sent); }
    bool IsStarted() const { return session_ || probing_.valid(); }
    // Started, its addresses still being probed: nothing sent yet.
    bool IsProbing() const { return !session_ && probing_.valid(); }
    bool IsFinished() const { return session_ && session_->Finished(); }
    // "Confirming <id>…" / "Confirming N changes…" while changes wait.
    std::string WaitingText() const { return session_ ? session_->WaitingText() : std::string(); }
    // The rollback plan written when sending began; empty when none was.
    QString RollbackPath() const;
    QString RollbackError() const;
    // The run ended before sending anything (the rollback plan could not be
    // written): why; empty otherwise.
    QString Failure() const;

signals:
    void ResultChanged(int index);
    void Finished();

private:
    // Starts the run among the window's runs (after the probe, when there is one).
    void StartSession();
    void ReportResult(int index);
    // Says Finished once, when the run has ended.
    void CheckFinished();

    ChangeRunsTimer& runs_;
    std::vector<AssignOrder> orders_;
    Options options_;
    std::future<std::vector<ProbeAnswer>> probing_;
    std::vector<std::uint32_t> probedAddresses_;
    std::unordered_map<std::uint32_t, ProbeAnswer> probed_;
    QTimer probeWait_;
    std::shared_ptr<const ProvisioningSession> session_;
    // Results reported while the run was being started, before its session
    // was known here.
    std::vector<int> early_;
    bool stopped_ = false;
    bool finishedReported_ = false;
};

}  // namespace qdipc
