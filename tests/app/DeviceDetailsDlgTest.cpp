// The "Device Details" window with a fake device service: the login prompt
// on a refusal, the login kept in the store and sent again, the facts as
// plain text, and no question at all for a row without a strict address.

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QtTest>
#include <mutex>

#include "ui/qt/CDeviceDetailsDlg.h"
#include "ui/qt/CCredentialsDlg.h"

namespace {

struct FakeDevice {
    std::mutex mutex;
    std::vector<std::string> logins;  // "" for a call without one
    int calls = 0;
};

}  // namespace

class TestDeviceDetails : public QObject {
    Q_OBJECT
private slots:
    void asksForALoginKeepsItAndShowsTheFacts() {
        auto device = std::make_shared<FakeDevice>();
        CDeviceDetailsDlg::Query query = [device](const qdipc::OnvifTarget& target,
                                                  const std::optional<qdipc::OnvifLogin>& login) {
            std::lock_guard lock(device->mutex);
            ++device->calls;
            device->logins.push_back(login ? login->user + ":" + login->password : "");
            qdipc::OnvifDetails details;
            details.clockOffset = std::chrono::seconds(7200);
            if (target.address != 0x0A000005 || !login || login->password != "secret") {
                details.status =
                    login ? qdipc::OnvifStatus::Refused : qdipc::OnvifStatus::NeedsLogin;
                details.reason = "the device asks for a user name and password";
                return details;
            }
            details.status = qdipc::OnvifStatus::Ok;
            details.manufacturer = "<b>Maker</b>\x1b[31m";
            details.serial = "S1";
            details.interfaces.push_back({"eth0", "00:11:22:33:44:55", true});
            details.streams.push_back({"p0", "Main", "rtsp://10.0.0.5/a"});
            return details;
        };
        std::vector<std::string> kept;
        CDeviceDetailsDlg::LoginStore store;
        store.find = [](const std::string&) { return std::optional<qdipc::OnvifLogin>(); };
        store.keep = [&](const std::string& host, const qdipc::OnvifLogin& login) {
            kept.push_back(host + " " + login.user + ":" + login.password);
        };
        QWidget parent;
        auto* dialog = new CDeviceDetailsDlg("10.0.0.5", store, &parent, query);
        dialog->show();

        CCredentialsDlg* prompt = nullptr;
        QTRY_VERIFY((prompt = dialog->findChild<CCredentialsDlg*>()) != nullptr);
        QVERIFY(dialog->Text().contains(QStringLiteral("asks for a user name and password")));
        const auto edits = prompt->findChildren<QLineEdit*>();
        QCOMPARE(edits.size(), 2);
        edits[0]->setText(QStringLiteral("admin"));
        edits[1]->setText(QStringLiteral("secret"));
        prompt->accept();

        QTRY_VERIFY(dialog->Text().startsWith(QStringLiteral("Address:       10.0.0.5\n")));
        const QString text = dialog->Text();
        // Markup and control characters as plain, escaped text.
        QVERIFY2(text.contains(QStringLiteral("Manufacturer:  <b>Maker</b>\\x1b[31m\n")),
                 qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("Clock offset:  7200 s")));
        QVERIFY(text.contains(QStringLiteral("Interface:     eth0 MAC 00:11:22:33:44:55 dhcp\n")));
        QVERIFY(text.contains(QStringLiteral("Stream:        Main (p0) rtsp://10.0.0.5/a\n")));
        QCOMPARE(kept, std::vector<std::string>{"10.0.0.5 admin:secret"});
        std::lock_guard lock(device->mutex);
        QCOMPARE(device->logins, (std::vector<std::string>{"", "admin:secret"}));
    }

    void rowWithoutAStrictAddressIsNotAsked() {
        for (const char* ip : {"10.0.0.5:1@10.0.0.6", "10.0.0.05", "10.0.0.5:80", ""}) {
            int calls = 0;
            CDeviceDetailsDlg::Query query = [&calls](const qdipc::OnvifTarget&,
                                                      const std::optional<qdipc::OnvifLogin>&) {
                ++calls;
                return qdipc::OnvifDetails{};
            };
            QWidget parent;
            auto* dialog = new CDeviceDetailsDlg(ip, {}, &parent, query);
            QCOMPARE(dialog->Text(),
                     QStringLiteral("Device details: the device reports no valid IP address"));
            QTest::qWait(20);
            QCOMPARE(calls, 0);
        }
    }
};

QTEST_MAIN(TestDeviceDetails)
#include "DeviceDetailsDlgTest.moc"
