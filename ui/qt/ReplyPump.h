#pragma once
// Carries accepted replies from the receive worker to the UI thread. The
// worker pushes batches into the queue; the queue's wake call (on the worker
// thread) posts one request to this object, and the UI thread drains the
// queue at most once per interval, so a burst of thousands of replies costs a
// handful of row insertions and view updates instead of one per reply.
//
// A drain is a time-boxed slice: it hands the consumer chunks of replies
// until its budget is spent, then lets the event loop run and goes on with
// the next slice, so no flood of replies stalls the window. The queue caps
// what may wait.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

#include "discovery/ReplyQueue.h"

namespace qdipc {

struct ReplyPumpOptions {
    // Least time between two drains after the queue ran empty.
    std::chrono::milliseconds minInterval{100};
    // UI time one slice may take, about (plus at most one chunk's work).
    std::chrono::milliseconds sliceBudget{10};
    // Replies per consumer call (one row insertion each).
    std::size_t chunk = 1024;
    // Replies that may wait; beyond it the newest are dropped.
    std::size_t maxPending = ReplyQueue::kDefaultMaxPending;
};

class ReplyPump : public QObject {
    Q_OBJECT
public:
    using Consumer = std::function<void(std::vector<AcceptedReply>&)>;

    // consume runs on this object's thread with one chunk of replies.
    explicit ReplyPump(Consumer consume,
                       std::chrono::milliseconds minInterval = std::chrono::milliseconds(100),
                       QObject* parent = nullptr);
    ReplyPump(Consumer consume, ReplyPumpOptions options, QObject* parent = nullptr);
    // Drains a queue that another owns (the window model's), whose wake call
    // calls Wake.
    ReplyPump(ReplyQueue& source, Consumer consume, ReplyPumpOptions options,
              QObject* parent = nullptr);
    ~ReplyPump() override;

    ReplyQueue& Queue() { return m_queue; }
    // Any thread: ask for a drain on this object's thread.
    void Wake();
    // Takes everything pending now and hands it to the consumer, chunk by
    // chunk, without a time limit.
    void DrainNow();
    // One time-boxed slice; schedules the next one when replies are left.
    void DrainSlice();
    // Number of slices that found something (for measurements).
    int DrainCount() const { return m_drains; }
    // The longest slice so far, in microseconds (for measurements).
    qint64 LongestSliceMicroseconds() const { return m_longestSliceUs; }
    const ReplyPumpOptions& Options() const { return m_options; }

private:
    // This object's thread: start the drain timer unless it runs already; the
    // first drain after a quiet spell comes at once.
    void ScheduleDrain();
    // Hands one chunk to the consumer; returns its size. Less than a whole
    // chunk means the queue was empty after it: no need to ask it again.
    std::size_t ConsumeChunk();

    Consumer m_consume;
    ReplyPumpOptions m_options;
    QTimer m_timer;
    QElapsedTimer m_sinceLastDrain;
    int m_drains = 0;
    qint64 m_longestSliceUs = 0;
    std::unique_ptr<ReplyQueue> m_own;  // last: its wake call uses the members above
    ReplyQueue& m_queue;
};

}  // namespace qdipc
