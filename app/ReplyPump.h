#pragma once
// Carries accepted replies from the receive worker to the UI thread. The
// worker pushes batches into the queue; the queue's wake call (on the worker
// thread) posts one request to this object, and the UI thread drains the
// queue at most once per interval, so a burst of thousands of replies costs a
// handful of row insertions and view updates instead of one per reply.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <vector>

#include "discovery/ReplyQueue.h"

namespace qdipc {

class ReplyPump : public QObject {
    Q_OBJECT
public:
    using Consumer = std::function<void(std::vector<AcceptedReply>&)>;

    // consume runs on this object's thread with everything pending.
    explicit ReplyPump(Consumer consume,
                       std::chrono::milliseconds minInterval = std::chrono::milliseconds(100),
                       QObject* parent = nullptr);
    ~ReplyPump() override;

    ReplyQueue& Queue() { return m_queue; }
    // Takes everything pending now and hands it to the consumer.
    void DrainNow();
    // Number of drains that found something (for measurements).
    int DrainCount() const { return m_drains; }

private:
    // Any thread: ask for a drain on this object's thread.
    void Wake();
    // This object's thread: start the drain timer unless it runs already; the
    // first drain after a quiet spell comes at once.
    void ScheduleDrain();

    Consumer m_consume;
    std::chrono::milliseconds m_minInterval;
    QTimer m_timer;
    QElapsedTimer m_sinceLastDrain;
    int m_drains = 0;
    ReplyQueue m_queue;  // last: its wake call uses the members above
};

}  // namespace qdipc
