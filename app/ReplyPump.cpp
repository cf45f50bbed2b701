#include "app/ReplyPump.h"

#include <QMetaObject>
#include <algorithm>

namespace qdipc {

ReplyPump::ReplyPump(Consumer consume, std::chrono::milliseconds minInterval, QObject* parent)
    : QObject(parent),
      m_consume(std::move(consume)),
      m_minInterval(minInterval),
      m_queue([this] { Wake(); }) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &ReplyPump::DrainNow);
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
        wait = std::max(std::chrono::milliseconds(0), m_minInterval - elapsed);
    }
    m_timer.start(wait);
}

void ReplyPump::DrainNow() {
    std::vector<AcceptedReply> batch = m_queue.TakeAll();
    if (batch.empty()) {
        return;
    }
    m_sinceLastDrain.start();
    ++m_drains;
    m_consume(batch);
}

}  // namespace qdipc
