#pragma once
// One run of a batch assignment in the window: sends each camera its record,
// paced, and shows what the window's confirmation of each change ends with.
// The run belongs to the main window, not to the dialog that started it:
// closing the dialog stops nothing, and the cameras' new values still reach
// the list.

#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "settings/BatchAssign.h"

namespace qdipc {

class AssignRun : public QObject {
    Q_OBJECT
public:
    enum class Result { Planned, Sent, NotSent, Confirmed, NotConfirmed };

    struct Hooks {
        // Stamps and sends one record toward the interface given (0: every
        // one) and starts its confirmation; false when it could not be sent.
        std::function<bool(const NetSettingsRecord&, std::uint32_t arrivalInterface)> send;
        std::chrono::milliseconds pacing = kAssignPacing;
        // False when nothing confirms the changes (a zero wait): the run ends
        // once every record went out.
        bool confirming = true;
    };

    AssignRun(std::vector<AssignOrder> orders, Hooks hooks, QObject* parent = nullptr);

    // The Result column's text: "" (planned), "sent", "not sent",
    // "confirmed", "not confirmed".
    static QString ResultText(Result result);

    void Start();
    // How the confirmation of a change for this device ID ended; true when
    // the change is one of this run's (sent and still waiting).
    bool OnOutcome(const std::string& deviceId, bool confirmed);

    const std::vector<AssignOrder>& Orders() const { return orders_; }
    Result ResultOf(std::size_t index) const { return results_[index]; }
    int Total() const { return static_cast<int>(results_.size()); }
    int ConfirmedCount() const { return confirmed_; }
    bool IsFinished() const { return finished_; }

signals:
    void ResultChanged(int index);
    void Finished();

private:
    void SendNext();
    void FinishWhenDone();
    void SetResult(std::size_t index, Result result);

    std::vector<AssignOrder> orders_;
    Hooks hooks_;
    std::vector<Result> results_;
    // Lowercase device ID -> order.
    std::unordered_map<std::string, std::size_t> byDeviceId_;
    std::size_t nextToSend_ = 0;
    int confirmed_ = 0;
    bool finished_ = false;
    QTimer sendTimer_;
};

}  // namespace qdipc
