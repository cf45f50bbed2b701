#pragma once
// The small modal prompt for a camera's RTSP user name and password.

#include <QDialog>
#include <string>

class QLineEdit;

class CCredentialsDlg : public QDialog {
    Q_OBJECT
public:
    // host names the camera in the prompt; user is filled in beforehand.
    CCredentialsDlg(const std::string& host, const std::string& user, QWidget* parent);

    std::string User() const;
    std::string Password() const;

private:
    QLineEdit* m_user;
    QLineEdit* m_password;
};
