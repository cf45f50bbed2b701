#include "ui/qt/CDeviceDetailsDlg.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QPlainTextEdit>
#include <QVBoxLayout>
#include <thread>

#include "discovery/CellText.h"
#include "discovery/OnvifDetailsText.h"
#include "ui/qt/CCredentialsDlg.h"
#include "ui/qt/CVideoStatic.h"

namespace {

qdipc::OnvifDetails AskDevice(const qdipc::OnvifTarget& target,
                              const std::optional<qdipc::OnvifLogin>& login) {
    qdipc::OnvifDeviceClient client(target);
    client.SetLogin(login);
    return client.QueryDetails();
}

QString Plain(const std::string& text) {
    return QString::fromStdString(qdipc::EscapeControls(text));
}

}  // namespace

CDeviceDetailsDlg::CDeviceDetailsDlg(const std::string& ipCell, LoginStore store, QWidget* parent,
                                     Query query)
    : QDialog(parent),
      m_target(qdipc::ParseOnvifTarget(ipCell)),
      m_store(std::move(store)),
      m_query(query ? std::move(query) : Query(AskDevice)),
      m_text(new QPlainTextEdit(this)) {
    setWindowTitle(QStringLiteral("Device Details"));
    setAttribute(Qt::WA_DeleteOnClose);
    m_text->setReadOnly(true);
    m_text->setAccessibleName(QStringLiteral("Device details"));
    m_text->setMinimumSize(520, 260);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_text);
    layout->addWidget(buttons);

    // Only a row whose IP is a plain dotted quad (no port, no path) is asked.
    if (!m_target || qdipc::AddressText(*m_target) != ipCell) {
        m_target.reset();
        m_text->setPlainText(
            QStringLiteral("Device details: the device reports no valid IP address"));
        return;
    }
    m_address = qdipc::AddressText(*m_target);
    Ask(m_store.find ? m_store.find(m_address) : std::nullopt);
}

QString CDeviceDetailsDlg::Text() const {
    return m_text->toPlainText();
}

void CDeviceDetailsDlg::Ask(const std::optional<qdipc::OnvifLogin>& login) {
    m_text->setPlainText(QStringLiteral("Asking %1 …").arg(QString::fromStdString(m_address)));
    // The answer comes back to the window's thread, and only while this
    // window is open; each call is time-limited, so the worker ends by itself.
    QPointer<CDeviceDetailsDlg> self(this);
    std::thread([self, query = m_query, target = *m_target, login] {
        qdipc::OnvifDetails details = query(target, login);
        QMetaObject::invokeMethod(
            qApp,
            [self, details = std::move(details), sent = login.has_value()] {
                if (self) {
                    self->Answered(details, sent);
                }
            },
            Qt::QueuedConnection);
    }).detach();
}

void CDeviceDetailsDlg::Answered(const qdipc::OnvifDetails& details, bool loginSent) {
    using qdipc::OnvifStatus;
    if (details.status == OnvifStatus::NeedsLogin ||
        (details.status == OnvifStatus::Refused && loginSent)) {
        AskForLogin(Plain(details.reason));
        return;
    }
    if (details.status != OnvifStatus::Ok) {
        m_text->setPlainText(QStringLiteral("Device details: %1: %2")
                                 .arg(QString::fromStdString(m_address), Plain(details.reason)));
        return;
    }
    m_text->setPlainText(QString::fromStdString(qdipc::FormatDetailsText(m_address, details)));
}

void CDeviceDetailsDlg::AskForLogin(const QString& why) {
    m_text->setPlainText(
        QStringLiteral("Device details: %1: %2").arg(QString::fromStdString(m_address), why));
    if (m_prompt) {
        return;
    }
    const auto known = m_store.find ? m_store.find(m_address) : std::nullopt;
    m_prompt = new CCredentialsDlg(m_address, known ? known->user : "", this);
    CCredentialsDlg* prompt = m_prompt;
    connect(prompt, &QDialog::finished, prompt, &QObject::deleteLater);
    connect(prompt, &QDialog::accepted, this, [this, prompt] {
        const qdipc::OnvifLogin login{prompt->User(), prompt->Password()};
        if (m_store.keep) {
            m_store.keep(m_address, login);
        }
        Ask(login);
    });
    prompt->setWindowModality(Qt::WindowModal);
    prompt->show();
}

void PlayDeviceServiceStream(CVideoStatic* pane, const std::string& ipCell) {
    const auto target = qdipc::ParseOnvifTarget(ipCell);
    if (!target || qdipc::AddressText(*target) != ipCell) {
        pane->ShowReason(QStringLiteral("No picture: the camera reports no valid IP address"));
        return;
    }
    std::optional<qdipc::OnvifLogin> login;
    if (const auto stored = pane->StoredLogin(ipCell)) {
        login = qdipc::OnvifLogin{stored->first, stored->second};
    }
    QPointer<CVideoStatic> guard(pane);
    std::thread([guard, target = *target, login, ipCell] {
        qdipc::OnvifDeviceClient client(target);
        client.SetLogin(login);
        const auto answer = client.FirstRtspUri();
        QMetaObject::invokeMethod(
            qApp,
            [guard, answer, ipCell] {
                if (!guard) {
                    return;
                }
                if (answer.status == qdipc::OnvifStatus::Ok) {
                    guard->PlayDeviceStream(answer.uri, ipCell);
                } else {
                    guard->ShowReason(QStringLiteral("No picture: ") + Plain(answer.reason));
                }
            },
            Qt::QueuedConnection);
    }).detach();
}
