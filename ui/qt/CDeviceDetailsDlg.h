#pragma once
// "Device Details": what a device's own SOAP device service says about it
// (maker, model, firmware, serial, MAC, DHCP or static, clock offset, stream
// locations), as plain text in a read-only box. The service is asked off the
// window's thread; a device that wants a login gets the preview's "Camera
// login" prompt, and what is entered goes to the same in-memory store, keyed
// by the row's strict dotted-quad address. A row whose IP is not one is not
// asked at all.

#include <QDialog>
#include <QPointer>
#include <functional>
#include <optional>
#include <string>

#include "discovery/OnvifDevice.h"

class CCredentialsDlg;
class CVideoStatic;
class QPlainTextEdit;

class CDeviceDetailsDlg : public QDialog {
    Q_OBJECT
public:
    // The in-memory login store (the preview pane's).
    struct LoginStore {
        std::function<std::optional<qdipc::OnvifLogin>(const std::string& host)> find;
        std::function<void(const std::string& host, const qdipc::OnvifLogin&)> keep;
    };
    // Asks the device; runs on a worker thread. Tests pass a fake.
    using Query = std::function<qdipc::OnvifDetails(const qdipc::OnvifTarget&,
                                                    const std::optional<qdipc::OnvifLogin>&)>;

    CDeviceDetailsDlg(const std::string& ipCell, LoginStore store, QWidget* parent,
                      Query query = {});

    // What the box shows.
    QString Text() const;

private:
    void Ask(const std::optional<qdipc::OnvifLogin>& login);
    void Answered(const qdipc::OnvifDetails& details, bool loginSent);
    void AskForLogin(const QString& why);

    std::optional<qdipc::OnvifTarget> m_target;
    std::string m_address;
    LoginStore m_store;
    Query m_query;
    QPlainTextEdit* m_text;
    QPointer<CCredentialsDlg> m_prompt;
};

// Preview of a row found through its device service: asks the service at the
// row's IP for its first RTP-unicast RTSP location off the window's thread,
// with the login stored for that address, then, while the pane lives, plays
// it (CVideoStatic::PlayDeviceStream: only a location on that same address)
// or says in the pane why there is no picture.
void PlayDeviceServiceStream(CVideoStatic* pane, const std::string& ipCell);
