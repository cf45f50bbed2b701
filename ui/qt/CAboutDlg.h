#pragma once
// The About box: program name and version, one line about the tool, and OK.

#include <QDialog>
#include <memory>

namespace Ui {
class AboutDlg;
}

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    ~CAboutDlg() override;

private:
    std::unique_ptr<Ui::AboutDlg> m_ui;
};
