#pragma once
// Support for driving the main window in tests: a message recorder instead of
// message boxes, loopback endpoints, a free loopback port, a window that
// records the settings it would open, one search on a bound port, and a
// way to close a modal dialog or popup that an action opens.

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/UdpSocket.h"
#include "tests/discovery/LoopbackHelpers.h"
#include "ui/qt/CSearchDlg.h"
#include "ui/qt/MessagePresenter.h"
#include "ui/qt/SearchDlgConfig.h"

namespace qdipc::test {

class MessageRecorder : public MessagePresenter {
public:
    void Warn(QWidget*, const QString& text) override { texts.append(text); }
    bool Ask(QWidget*, const QString& text) override {
        questions.append(text);
        return answer;
    }
    QStringList texts;
    QStringList questions;
    bool answer = true;  // what Ask answers
};

// The main window with OpenSettings recorded instead of opening a window.
class RecordingSearchDlg : public CSearchDlg {
public:
    using CSearchDlg::CSearchDlg;
    std::vector<int> openedRows;
    std::vector<std::string> playedLocations;

protected:
    void OpenSettings(int row) override { openedRows.push_back(row); }
    void PlayStream(const std::string& location) override { playedLocations.push_back(location); }
};

// Everything on loopback: the request goes to destinationPort on 127.0.0.1,
// the worker listens on 127.0.0.1:receivePort (0: any free port), the error
// log goes to a temporary directory, boxes go to the recorder, and the
// firewall call only counts.
struct LoopbackWindowConfig {
    std::shared_ptr<MessageRecorder> messages = std::make_shared<MessageRecorder>();
    QTemporaryDir logDirectory;
    int firewallCalls = 0;

    SearchDlgConfig Make(std::uint16_t destinationPort, std::uint16_t receivePort = 0) {
        SearchDlgConfig config;
        config.searchDestination = {"127.0.0.1", destinationPort};
        // The ONVIF probes go to a loopback port nobody listens on, never to
        // the multicast group.
        config.onvifDestination = {"127.0.0.1", 9};
        // Watching hears Hello and Bye on a loopback port of its own, never the group's.
        config.onvifAnnouncements = {"127.0.0.1", 0};
        config.receiver.bind = {"127.0.0.1", receivePort};
        config.receiver.receiveBufferBytes = 4 * 1024 * 1024;
        config.interfaces = LoopbackNetworks();
        config.errorLogDirectory = logDirectory.path().toStdString();
        // Rollback plans of the window's runs stay in the test's folder.
        config.stateDirectory = logDirectory.path().toStdString();
        config.messages = messages;
        config.openFirewall = [this] { ++firewallCalls; };
        // Nothing answers a probe (the real one would wait its second on
        // every plan of a loopback address).
        config.probeAddresses = [](const std::vector<std::uint32_t>& addresses) {
            return std::vector<ProbeAnswer>(addresses.size(), ProbeAnswer::Silent);
        };
        return config;
    }
};

// Presses Search once: the press binds the worker's port (receivePort) before
// the request leaves, so every camera that answers is listed by this one
// search. A failed check ends the helper only: the caller returns when
// QTest::currentTestFailed().
inline void SearchOnceListening(CSearchDlg& dlg, QAbstractButton* search,
                                std::uint16_t receivePort) {
    QTest::mouseClick(search, Qt::LeftButton);
    QVERIFY(dlg.Worker() != nullptr);
    QCOMPARE(dlg.Worker()->BoundPort(), receivePort);
}

// A message box that is open, also one that is modal to its owner window only
// (which Qt does not count as a modal widget).
inline QWidget* OpenMessageBox() {
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (qobject_cast<QMessageBox*>(top) != nullptr && top->isVisible()) {
            return top;
        }
    }
    return nullptr;
}

// Runs action, which is expected to open a modal dialog, a message box or a
// popup; handle gets that widget (polled every 10 ms, for at most 5 s) and
// must close it. Returns whether one was seen.
inline bool WhileModal(const std::function<void()>& action,
                       const std::function<void(QWidget*)>& handle) {
    bool seen = false;
    int polls = 0;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* widget = QApplication::activePopupWidget();
        if (widget == nullptr) {
            widget = QApplication::activeModalWidget();
        }
        if (widget == nullptr) {
            widget = OpenMessageBox();
        }
        if (widget != nullptr && widget->isVisible()) {
            seen = true;
            poll.stop();
            handle(widget);
        } else if (++polls > 500) {
            poll.stop();
        }
    });
    poll.start();
    action();
    poll.stop();
    return seen;
}

}  // namespace qdipc::test
