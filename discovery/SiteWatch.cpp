#include "discovery/SiteWatch.h"

#include <algorithm>
#include <array>
#include <string>

namespace qdipc {

const char* WatchEventName(WatchEventKind kind) {
    switch (kind) {
        case WatchEventKind::Added:
            return "added";
        case WatchEventKind::Changed:
            return "changed";
        case WatchEventKind::Gone:
            return "gone";
        case WatchEventKind::Back:
            return "back";
    }
    return "";
}

SiteWatch::SiteWatch(DeviceList& list, WatchOptions options) : m_list(list), m_options(options) {
    m_options.interval = std::max(m_options.interval, std::chrono::milliseconds(1));
    m_options.goneAfterCycles = std::max(m_options.goneAfterCycles, 1);
}

void SiteWatch::Start(Clock::time_point now) {
    m_watching = true;
    m_cycles = 0;
    m_due = now + m_options.interval;
    m_list.ResetCycles();
}

bool SiteWatch::Tick(Clock::time_point now, std::vector<WatchEvent>& events) {
    if (!m_watching || now < m_due) {
        return false;
    }
    m_newlyGone.clear();
    m_list.CloseCycle(m_options.goneAfterCycles, m_newlyGone);
    const auto wallNow = m_list.Now();
    for (int row : m_newlyGone) {
        events.push_back({WatchEventKind::Gone, row, wallNow});
    }
    ++m_cycles;
    // On schedule the cycles keep their pace; a late tick (a stalled loop)
    // does not bunch requests up to catch up.
    m_due += m_options.interval;
    if (m_due <= now) {
        m_due = now + m_options.interval;
    }
    return true;
}

void SiteWatch::Observe(const std::vector<AcceptedReply>& batch, std::uint32_t searchId,
                        std::vector<WatchEvent>& events) {
    std::vector<AcceptedReply> fresh;
    const auto now = m_list.Now();
    for (const AcceptedReply& accepted : batch) {
        if (accepted.searchId != searchId) {
            continue;
        }
        const int row = m_list.FindRow(accepted.reply);
        if (row < 0) {
            fresh.push_back(accepted);
            continue;
        }
        const bool back = m_list.MarkSeen(row);
        // Most answers repeat the last one: no need to decode them.
        const bool changed = !m_list.SameReply(row, accepted.reply, accepted.arrivalInterface) &&
                             m_list.UpdateRow(row, accepted.reply, accepted.arrivalInterface);
        if (changed) {
            m_list.MarkChanged(row);
        }
        // Back with new values: one event, which carries them.
        if (back || changed) {
            events.push_back({back ? WatchEventKind::Back : WatchEventKind::Changed, row, now});
        }
    }
    if (fresh.empty()) {
        return;
    }
    const int first = m_list.RowCount();
    m_list.AddReplies(fresh, searchId);
    for (int row = first; row < m_list.RowCount(); ++row) {
        events.push_back({WatchEventKind::Added, row, now});
    }
}

namespace {

// The cells an ONVIF device's row shows of it.
std::array<std::string, 4> OnvifCells(const DeviceList& list, int row) {
    return {list.CellText(row, kColName), list.CellText(row, kColIp), list.CellText(row, kColMac),
            list.CellText(row, kColHardwareVer)};
}

}  // namespace

void SiteWatch::ObserveOnvif(const std::vector<OnvifSighting>& sightings,
                             std::vector<WatchEvent>& events) {
    for (const OnvifSighting& sighting : sightings) {
        switch (sighting.kind) {
            case OnvifSightingKind::Bye: {
                const int row = m_list.FindOnvifRow(sighting.device.endpoint);
                if (m_list.MarkGone(row)) {
                    events.push_back({WatchEventKind::Gone, row});
                }
                break;
            }
            case OnvifSightingKind::RoundEnd: {
                m_newlyGone.clear();
                m_list.CloseOnvifRound(m_options.goneAfterCycles, m_newlyGone);
                for (int row : m_newlyGone) {
                    events.push_back({WatchEventKind::Gone, row});
                }
                break;
            }
            case OnvifSightingKind::Hello:
            case OnvifSightingKind::ProbeMatch: {
                const int listed = m_list.FindOnvifRow(sighting.device.endpoint);
                if (listed < 0) {
                    const int rows = m_list.RowCount();
                    const int row = m_list.AddOnvifDevice(sighting.device);
                    if (row >= rows) {
                        events.push_back({WatchEventKind::Added, row});
                    } else if (row >= 0 && m_list.MarkSeen(row)) {
                        events.push_back({WatchEventKind::Back, row});  // joined a gone camera
                    }
                    break;
                }
                const auto before = OnvifCells(m_list, listed);
                OnvifDevice device = sighting.device;
                // A MAC learnt before (the neighbour table, another message)
                // stays while the device says nothing of it.
                if (device.mac.empty() && before[1] == device.ip) {
                    device.mac = before[2];
                }
                const int row = m_list.AddOnvifDevice(device);
                if (m_list.MarkSeen(row)) {
                    events.push_back({WatchEventKind::Back, row});
                }
                if (OnvifCells(m_list, row) != before) {
                    m_list.MarkChanged(row);
                    events.push_back({WatchEventKind::Changed, row});
                }
                break;
            }
        }
    }
}

}  // namespace qdipc
