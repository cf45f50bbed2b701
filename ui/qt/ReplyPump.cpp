#include "ui/qt/ReplyPump.h"

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
      m_own(std::make_unique<ReplyQueue>([this] { Wake(); }, options.maxPending)),
      m_queue(*m_own) {
    m_options.chunk = std::max<std::size_t>(1, m_options.chunk);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &ReplyPump::DrainSlice);
}

ReplyPump::ReplyPump(ReplyQueue& source, Consumer consume, ReplyPumpOptions options,
                     QObject* parent)
    : QObject(parent), m_consume(std::move(consume)), m_options(options), m_queue(source) {
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

std::size_t ReplyPump::ConsumeChunk() {
    std::vector<AcceptedReply> chunk = m_queue.Take(m_options.chunk);
    const std::size_t taken = chunk.size();
    if (taken > 0) {
        m_consume(chunk);
    }
    return taken;
}

void ReplyPump::DrainNow() {
    std::size_t total = 0;
    std::size_t taken = 0;
    do {
        taken = ConsumeChunk();
        total += taken;
    } while (taken == m_options.chunk);
    if (total > 0) {
        m_sinceLastDrain.start();
        ++m_drains;
    }
}

void ReplyPump::DrainSlice() {
    QElapsedTimer slice;
    slice.start();
    std::size_t total = 0;
    std::size_t taken = 0;
    bool budgetSpent = false;
    do {
        taken = ConsumeChunk();
        total += taken;
        budgetSpent = slice.elapsed() >= m_options.sliceBudget.count();
    } while (taken == m_options.chunk && !budgetSpent);
    if (total == 0) {
        return;
    }
    m_longestSliceUs = std::max(m_longestSliceUs, slice.nsecsElapsed() / 1000);
    m_sinceLastDrain.start();
    ++m_drains;
    // A short chunk has emptied the queue, and a push that finds it empty
    // wakes the pump anew. Only a full last chunk may leave replies: then the
    // next slice comes once the event loop has handled what is due (input,
    // paints).
    if (taken == m_options.chunk && m_queue.Pending() > 0 && !m_timer.isActive()) {
        m_timer.start(0);
    }
}

}  // namespace qdipc
