#include "discovery/SearchSchedule.h"

#include "discovery/SearchCommand.h"

namespace qdipc {

void SearchSchedule::Start(Clock::time_point now, Clock::duration until) {
    m_active = true;
    m_start = now;
    m_until = until;
    m_sent = 0;
}

std::optional<SearchSchedule::Clock::time_point> SearchSchedule::NextDue() const {
    if (!m_active || m_sent >= kSearchRepeatOffsets.size() ||
        kSearchRepeatOffsets[m_sent] >= m_until) {
        return std::nullopt;
    }
    return m_start + kSearchRepeatOffsets[m_sent];
}

std::size_t SearchSchedule::Tick(Clock::time_point now) {
    std::size_t due = 0;
    for (auto next = NextDue(); next && now >= *next; next = NextDue()) {
        ++m_sent;
        ++due;
    }
    return due;
}

}  // namespace qdipc
