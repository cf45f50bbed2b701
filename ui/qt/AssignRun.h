#pragma once
// One provisioning run in the window: a ProvisioningSession (the engine that
// paces the records, confirms each change by the camera's own evidence and
// reports results as events) stepped by a timer on the UI thread and fed the
// replies the receive worker accepted. The run belongs to the main window,
// not to the dialog that started it: closing the dialog stops nothing, and
// the cameras' new values still reach the list.

#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <future>
#include <string>
#include <unordered_map>
#include <vector>

#include "settings/AddressReservations.h"
#include "settings/BatchAssign.h"
#include "settings/ProvisioningSession.h"

namespace qdipc {

class AssignRun : public QObject {
    Q_OBJECT
public:
    struct Hooks {
        // Stamps and sends one record toward the interface given (0: every
        // one); false with the reason when it did not go out.
        std::function<bool(const NetSettingsRecord&, std::uint32_t arrivalInterface,
                           std::string& failure)>
            send;
        // Sends a discovery request under a fresh search ID, whose replies
        // reach OnReplies; returns that ID, nothing when it did not go out.
        std::function<std::optional<std::uint32_t>()> probe;
        // The window's one probe schedule, shared by all its runs (it must
        // outlive the run); null: the run keeps its own.
        ProbeSchedule* probes = nullptr;
        std::chrono::milliseconds pacing = kAssignPacing;
        // A zero timeout: nothing is confirmed, a record that went out ends "sent".
        ConfirmationOptions confirmation;
        // Whether a rollback plan is written into rollbackDirectory before
        // the first record; when it cannot be, nothing is sent (Failure()).
        bool rollback = false;
        std::filesystem::path rollbackDirectory;
        // Shared by every run, dialog and settings window of the main window;
        // may be null.
        AddressReservations* reservations = nullptr;
        // Probes the orders' addresses just before the first record, on a
        // thread of its own (the window stays responsive for its second); an
        // address that answers is refused. Empty: no probe.
        AddressProber probeAddresses{};
    };

    AssignRun(std::vector<AssignOrder> orders, Hooks hooks, QObject* parent = nullptr);
    // Waits for a probe still running (at most its wait).
    ~AssignRun() override;

    // Checks every order (settings rules, reservations), sends the first
    // record at once and the others paced by the timer; with a probe, once
    // the probe has answered.
    void Start();
    // Every reply the receive worker accepted, in arrival order.
    void OnReplies(const std::vector<AcceptedReply>& replies);
    // The records not sent yet end "not confirmed" (not sent: the run was
    // stopped); the ones sent keep being confirmed.
    void StopSending();

    const std::vector<AssignOrder>& Orders() const { return orders_; }
    const ProvisioningCamera& CameraAt(std::size_t index) const {
        return session_.Cameras()[index];
    }
    CameraResult ResultOf(std::size_t index) const { return CameraAt(index).result; }
    int Total() const { return static_cast<int>(orders_.size()); }
    int CountOf(CameraResult result) const { return static_cast<int>(session_.CountOf(result)); }
    int ConfirmedCount() const { return CountOf(CameraResult::Confirmed); }
    // Records not sent yet, and changes sent that wait for the camera.
    int UnsentCount() const;
    int WaitingCount() const;
    bool IsStarted() const { return started_ || probing_.valid(); }
    bool IsFinished() const { return session_.Finished(); }
    // "Confirming <id>…" / "Confirming N changes…" while changes wait.
    std::string WaitingText() const { return session_.WaitingText(); }
    // The rollback plan written when sending began; empty when none was.
    QString RollbackPath() const;
    QString RollbackError() const { return QString::fromStdString(session_.RollbackError()); }
    // The run ended before sending anything (the rollback plan could not be
    // written): why; empty otherwise.
    QString Failure() const { return QString::fromStdString(session_.Failure()); }

signals:
    void ResultChanged(int index);
    void Finished();

private:
    // Sets the timer to the session's next due time, or reports the end.
    void Arm();

    // Starts the session (after the probe, when there is one).
    void StartSession();

    std::vector<AssignOrder> orders_;
    AddressProber prober_;
    std::future<std::vector<ProbeAnswer>> probing_;
    std::vector<std::uint32_t> probedAddresses_;
    std::unordered_map<std::uint32_t, ProbeAnswer> probed_;
    QTimer probeWait_;
    ProvisioningSession session_;
    QTimer tick_;
    bool started_ = false;
    bool finishedReported_ = false;
};

}  // namespace qdipc
