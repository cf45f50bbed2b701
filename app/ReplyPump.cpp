#include "app/ReplyPump.h"

#include <QMetaObject>
#include <algorithm>

namespace qdipc {
namespace {

ReplyPumpOptions WithInterval(std::chrono::milliseconds minInterval) {
    ReplyPumpOptions options;
    options.minInterval = minInterval;
    return options;
}

}  // namespace

ReplyPump::ReplyPump(Consumer consume, std::chrono::milliseconds minInterval, QObject* parent)
    : ReplyPump(std::move(consume), WithInterval(minInterval), parent) {}

ReplyPump::ReplyPump(Consumer consume, ReplyPumpOptions options, QObject* parent)
    : QObject(parent),
      m_consume(std::move(consume)),
      m_options(options),
      m_queue([this] { Wake(); }, options.maxPending) {
    m_options.chunk = std::max<std::size_t>(1, m_options.chunk);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &ReplyPump::DrainSlice);
}

ReplyPump::~ReplyPump() = default;

void ReplyPump::Wake() {
    // Queued: posted events addressed to a destroyed object are discarded.
    QMetaObject::invokeMethod(this, &ReplyPump::ScheduleDrain, Qt::QueuedConnection);
}

void ReplyPump::ScheduleDrain() {
    if (m_timer.isActive()) {
        return;
    }
    std::chrono::milliseconds wait{0};
    if (m_sinceLastDrain.isValid()) {
        const auto elapsed = std::chrono::milliseconds(m_sinceLastDrain.elapsed());
        wait = std::max(std::chrono::milliseconds(0), m_options.minInterval - elapsed);
    }
    m_timer.start(wait);
}

bool ReplyPump::ConsumeChunk() {
    std::vector<AcceptedReply> chunk = m_queue.Take(m_options.chunk);
    if (chunk.empty()) {
        return false;
    }
    m_consume(chunk);
    return true;
}

void ReplyPump::DrainNow() {
    bool any = false;
    while (ConsumeChunk()) {
        any = true;
    }
    if (any) {
        m_sinceLastDrain.start();
        ++m_drains;
    }
}

void ReplyPump::DrainSlice() {
    QElapsedTimer slice;
    slice.start();
    bool any = false;
    while (ConsumeChunk()) {
        any = true;
        if (slice.elapsed() >= m_options.sliceBudget.count()) {
            break;
        }
    }
    if (!any) {
        return;
    }
    m_longestSliceUs = std::max(m_longestSliceUs, slice.nsecsElapsed() / 1000);
    m_sinceLastDrain.start();
    ++m_drains;
    // Replies left: the next slice comes once the event loop has handled
    // what is due (input, paints). A push that finds the queue empty wakes
    // the pump anew, so nothing is scheduled when it is empty.
    if (m_queue.Pending() > 0 && !m_timer.isActive()) {
        m_timer.start(0);
    }
}

}  // namespace qdipc
