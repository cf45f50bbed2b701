#pragma once
// The application: shows the main window modally and ends the program when it
// closes.

#include "ui/qt/SearchDlgConfig.h"

class CSearchApp {
public:
    explicit CSearchApp(qdipc::SearchDlgConfig config = {});

    // Constructs the main window, runs it modally and destroys it. The window
    // has stopped the receive worker and the player by then. Returns the
    // program's exit code, 0.
    int InitInstance();

private:
    qdipc::SearchDlgConfig m_config;
};
