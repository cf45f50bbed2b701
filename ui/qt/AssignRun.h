#pragma once
// The window's settings runs on the Qt event loop. ChangeRunsTimer steps the
// window's one ChangeRuns (every Modify and batch, their address probes,
// confirmations and counts) at its next due time and on every reply; a
// window steps its whole model with it (whose due times and steps include
// the runs').
// AssignRun is one batch as a dialog follows it: the run belongs to the main
// window, not to the dialog that started it, so closing the dialog stops
// nothing, and the cameras' new values still reach the list.

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <optional>
#include <vector>

#include "settings/ProvisioningSession.h"
#include "ui/ChangeRuns.h"

namespace qdipc {

class ChangeRunsTimer : public QObject {
    Q_OBJECT
public:
    // What a step is: by default the runs' own NextDue and Tick.
    struct Stepping {
        std::function<std::optional<ChangeRuns::Clock::time_point>()> nextDue;
        std::function<void(ChangeRuns::Clock::time_point)> tick;
    };
    explicit ChangeRunsTimer(ChangeRuns& runs, Stepping stepping = {}, QObject* parent = nullptr);

    ChangeRuns& Runs() { return runs_; }
    const ChangeRuns& Runs() const { return runs_; }
    // Every reply the receive worker accepted, in arrival order.
    void OnReplies(const std::vector<AcceptedReply>& replies);
    // The timer set to the next due time (after a run started, a search).
    void Arm();

signals:
    // The runs took a step: results, counts and the bar's text may have
    // changed.
    void Stepped();

private:
    ChangeRuns& runs_;
    Stepping stepping_;
    QTimer tick_;
};

class AssignRun : public QObject {
    Q_OBJECT
public:
    // rollback: the rollback plan is written before the first record; when
    // it cannot be, nothing is sent (Failure()).
    AssignRun(ChangeRunsTimer& runs, std::vector<AssignOrder> orders, bool rollback = true,
              QObject* parent = nullptr);

    // Starts the batch among the window's runs: its addresses are probed
    // once more off the UI thread, then the first record goes and the others
    // follow paced.
    void Start();

    const std::vector<AssignOrder>& Orders() const { return orders_; }
    // A camera's result; only once ResultChanged named it.
    const ProvisioningCamera& CameraAt(std::size_t index) const { return cameras_[index]; }
    CameraResult ResultOf(std::size_t index) const { return CameraAt(index).result; }
    int Total() const { return static_cast<int>(orders_.size()); }
    int CountOf(CameraResult result) const;
    bool IsFinished() const { return state_.finished; }
    // The rollback plan written when sending began; empty when none was.
    QString RollbackPath() const;
    QString RollbackError() const { return QString::fromStdString(state_.rollbackError); }
    // The run ended before sending anything (the rollback plan could not be
    // written): why; empty otherwise.
    QString Failure() const { return QString::fromStdString(state_.failure); }

signals:
    void ResultChanged(int index);
    void Finished();

private:
    ChangeRunsTimer& runs_;
    std::vector<AssignOrder> orders_;
    bool rollback_;
    bool started_ = false;
    // Each camera as its latest result left it (the cameras not found follow
    // the orders).
    std::vector<ProvisioningCamera> cameras_;
    ChangeRuns::BatchState state_;
};

}  // namespace qdipc
