#pragma once
// One run of a batch assignment in the window: sends each camera its record,
// paced, then probes until every camera reports its new values or the wait
// is over. The run belongs to the main window, not to the dialog that
// started it: closing the dialog stops nothing that was sent, and the
// cameras' new values still reach the list.

#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "settings/BatchAssign.h"

namespace qdipc {

class AssignRun : public QObject {
    Q_OBJECT
public:
    enum class Result { Planned, Sent, NotSent, Confirmed, NotConfirmed };

    struct Hooks {
        // Stamps and sends one record toward the interface given (0: every one).
        std::function<bool(const NetSettingsRecord&, std::uint32_t arrivalInterface)> send;
        // Sends one discovery request, keeping the list.
        std::function<void()> probe;
        std::chrono::milliseconds pacing = kAssignPacing;
        std::chrono::milliseconds probeInterval{500};
        // How long after the last record the cameras may take to answer.
        std::chrono::milliseconds verifyWait{10000};
    };

    AssignRun(std::vector<AssignOrder> orders, Hooks hooks, QObject* parent = nullptr);

    // The Result column's text: "" (planned), "sent", "not sent",
    // "confirmed", "not confirmed".
    static QString ResultText(Result result);

    void Start();
    // A reply heard from a camera, in the list's text forms; true when it
    // confirms that camera's change.
    bool Observe(const std::string& deviceId, const std::string& ip, const std::string& mask,
                 const std::string& gateway, const std::string& mac);

    const std::vector<AssignOrder>& Orders() const { return tracker_.Orders(); }
    Result ResultOf(std::size_t index) const { return results_[index]; }
    int Total() const { return static_cast<int>(results_.size()); }
    int ConfirmedCount() const { return static_cast<int>(tracker_.ConfirmedCount()); }
    bool IsFinished() const { return finished_; }

signals:
    void ResultChanged(int index);
    void Finished();

private:
    void SendNext();
    void Probe();
    void Finish();
    void SetResult(std::size_t index, Result result);

    AssignTracker tracker_;
    Hooks hooks_;
    std::vector<Result> results_;
    std::size_t nextToSend_ = 0;
    bool finished_ = false;
    QTimer sendTimer_;
    QTimer probeTimer_;
    QTimer deadline_;
};

}  // namespace qdipc
