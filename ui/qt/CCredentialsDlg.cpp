#include "ui/qt/CCredentialsDlg.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

CCredentialsDlg::CCredentialsDlg(const std::string& host, const std::string& user, QWidget* parent)
    : QDialog(parent),
      m_user(new QLineEdit(QString::fromStdString(user), this)),
      m_password(new QLineEdit(this)) {
    setWindowTitle(QStringLiteral("Camera login"));
    setModal(true);
    m_password->setEchoMode(QLineEdit::Password);
    m_user->setAccessibleName(QStringLiteral("User name"));
    m_password->setAccessibleName(QStringLiteral("Password"));

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("User name:"), m_user);
    form->addRow(QStringLiteral("Password:"), m_password);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    auto* question = new QLabel(
        QStringLiteral("%1 asks for a user name and password.").arg(QString::fromStdString(host)),
        this);
    question->setTextFormat(Qt::PlainText);
    layout->addWidget(question);
    layout->addLayout(form);
    layout->addWidget(buttons);
    (user.empty() ? m_user : m_password)->setFocus();
}

std::string CCredentialsDlg::User() const {
    return m_user->text().toStdString();
}

std::string CCredentialsDlg::Password() const {
    return m_password->text().toStdString();
}
