#pragma once
// "Diagnose Network" (dialog template 110), modeless, owned by the main
// window: the summary, the checks in a report list (Check, Result, Finding,
// Fix) and Copy, which puts their text on the clipboard.

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "discovery/NetworkDiagnosis.h"

namespace qdipc::win {

class DiagnoseWindow {
public:
    // copy puts a UTF-8 text on the clipboard.
    DiagnoseWindow(std::vector<DiagnosisLine> lines, std::function<void(const std::string&)> copy);
    ~DiagnoseWindow();
    DiagnoseWindow(const DiagnoseWindow&) = delete;
    DiagnoseWindow& operator=(const DiagnoseWindow&) = delete;

    bool Create(HWND owner);
    HWND Handle() const { return m_hwnd; }

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void Fill();

    std::vector<DiagnosisLine> m_lines;
    std::function<void(const std::string&)> m_copy;
    HWND m_hwnd = nullptr;
};

}  // namespace qdipc::win
