#include "ui/qt/CAboutDlg.h"

#include "ui/qt/AppResources.h"
#include "ui/qt/DialogFont.h"
#include "ui_AboutDlg.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), m_ui(std::make_unique<Ui::AboutDlg>()) {
    m_ui->setupUi(this);
    setFont(qdipc::DialogFont());
    // Caption, system menu, a frame that does not resize.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    m_ui->iconLabel->setPixmap(qdipc::ProgramIcon().pixmap(16, 16));
}

CAboutDlg::~CAboutDlg() = default;
