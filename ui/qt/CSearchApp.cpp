#include "ui/qt/CSearchApp.h"

#include "ui/qt/CSearchDlg.h"

CSearchApp::CSearchApp(qdipc::SearchDlgConfig config) : m_config(std::move(config)) {}

int CSearchApp::InitInstance() {
    {
        CSearchDlg dlg(m_config);
        dlg.exec();
    }
    return 0;
}
