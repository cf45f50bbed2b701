#pragma once
// The settings window: one camera's IP address, netmask, gateway, MAC address
// and addressing mode. It is modeless, owned by the main window, and never
// touches the network: Modify packs the controls into a NetSettingsRecord and
// hands it to the main window synchronously (ApplySettingsEvent), which
// stamps, broadcasts and reports the outcome.

#include <QDialog>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "settings/NetSettingsRecord.h"

class QLineEdit;
class QKeyEvent;

namespace Ui {
class SettingDlg;
}

class CSettingDlg : public QDialog {
    Q_OBJECT
public:
    // mainDlg receives the handoffs and owns the window; the window is
    // top-level (a dialog window), not a child inside the main window.
    explicit CSettingDlg(QWidget* mainDlg);
    ~CSettingDlg() override;

    // Shows the record: the device-ID block is kept for Modify, the texts and
    // the MAC go into the edits, the mode checks one radio button, and the
    // title becomes "Set：" followed by the record's IP text.
    void LoadRecord(const qdipc::NetSettingsRecord& record);

    // Shows a warning box to the operator (parent, text) and returns when it
    // is closed; the main window passes its own message presenter. Without
    // one the window shows a plain warning box of its own.
    using WarnFunction = std::function<void(QWidget* parent, const QString& text)>;
    void SetWarning(WarnFunction warn);

public slots:
    // Checks the controls first (ValidateSettings): on a problem it shows the
    // field and the reason, puts the focus on that field with its text
    // selected, and sends nothing. Otherwise it builds a fresh record from
    // the controls and hands it to the main window, and returns once the main
    // window has sent it and reported the outcome.
    void OnModify();

protected:
    // Enter presses Modify when Modify has the focus and otherwise ends the
    // window as OK; Esc ends it as Cancel. Ending only hides the window.
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* m_pMainDlg;
    // Bytes 13..28 of the record last shown: devId followed by devIdTail.
    std::array<std::uint8_t, qdipc::record::kDevIdBlockSize> m_devIdBlock{};
    QLineEdit* m_editMask = nullptr;
    QLineEdit* m_editMac = nullptr;
    QLineEdit* m_editIp = nullptr;
    QLineEdit* m_editGateway = nullptr;
    std::unique_ptr<Ui::SettingDlg> m_ui;
    WarnFunction m_warn;
};

// Built by the core (settings/NetSettingsRecord.h).
using qdipc::BuildSettingsRecordFromRow;
