#pragma once
// The handoff from a settings window to the main window as a Qt event: the
// event type is the private message number 0x603, and the event carries the
// address of the 92-byte handoff block. It is delivered synchronously with
// QCoreApplication::sendEvent, so the block may live on the sender's stack;
// the receiver must not keep the pointer after it has handled the event.

#include <QEvent>

#include "settings/NetSettingsRecord.h"

class ApplySettingsEvent : public QEvent {
public:
    static constexpr QEvent::Type kType = static_cast<QEvent::Type>(qdipc::WM_APPLY_SETTINGS);

    explicit ApplySettingsEvent(const qdipc::SettingsHandoff* handoff)
        : QEvent(kType), m_handoff(handoff) {}

    const qdipc::SettingsHandoff* Handoff() const { return m_handoff; }

private:
    const qdipc::SettingsHandoff* m_handoff;
};
