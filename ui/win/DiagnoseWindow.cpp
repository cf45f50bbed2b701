#include "ui/win/DiagnoseWindow.h"

#include <commctrl.h>

#include <utility>

#include "discovery/CellText.h"
#include "ui/WindowTexts.h"
#include "ui/win/DialogSupport.h"
#include "ui/win/WideText.h"
#include "ui/win/WinResources.h"

namespace qdipc::win {

DiagnoseWindow::DiagnoseWindow(std::vector<DiagnosisLine> lines,
                               std::function<void(const std::string&)> copy)
    : m_lines(std::move(lines)), m_copy(std::move(copy)) {}

DiagnoseWindow::~DiagnoseWindow() {
    DestroyModeless(m_hwnd);
}

bool DiagnoseWindow::Create(HWND owner) {
    m_hwnd = CreateModeless(IDD_DIAGNOSE, owner, &DiagnoseWindow::DialogProc, this);
    if (m_hwnd == nullptr) {
        return false;
    }
    Fill();
    ShowWindow(m_hwnd, SW_SHOW);
    return true;
}

INT_PTR CALLBACK DiagnoseWindow::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = DialogOwner<DiagnoseWindow>(hwnd, message, lParam);
    if (self == nullptr) {
        return message == WM_INITDIALOG;
    }
    if (HidesOnClose(hwnd, message, wParam)) {
        return TRUE;
    }
    switch (message) {
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_DIAG_COPY) {
                self->m_copy(DiagnosisText(self->m_lines));
                return TRUE;
            }
            return FALSE;
        case WM_NCDESTROY:
            self->m_hwnd = nullptr;
            return FALSE;
        default:
            return FALSE;
    }
}

void DiagnoseWindow::Fill() {
    SetDlgItemTextW(m_hwnd, IDC_DIAG_SUMMARY, Wide(DiagnosisSummary(m_lines)).c_str());
    HWND list = GetDlgItem(m_hwnd, IDC_DIAG_LIST);
    ListView_SetExtendedListViewStyleEx(list, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT,
                                        LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    const wchar_t* titles[] = {L"Check", L"Result", L"Finding", L"Fix"};
    const int widths[] = {80, 80, 360, 260};
    const UINT dpi = GetDpiForWindow(m_hwnd);
    for (int column = 0; column < 4; ++column) {
        LVCOLUMNW info{};
        info.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        info.pszText = const_cast<wchar_t*>(titles[column]);
        info.cx = dpi == 0 ? widths[column] : MulDiv(widths[column], static_cast<int>(dpi), 96);
        info.iSubItem = column;
        ListView_InsertColumn(list, column, &info);
    }
    for (int row = 0; row < static_cast<int>(m_lines.size()); ++row) {
        const DiagnosisLine& line = m_lines[static_cast<std::size_t>(row)];
        // Texts from the system (interface and program names) with their
        // control characters as \xNN, as everywhere else.
        const std::wstring cells[4] = {
            Wide(EscapeControls(line.check)), Wide(CheckResultText(line.result)),
            Wide(EscapeControls(line.finding)), Wide(EscapeControls(line.fix))};
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = row;
        item.pszText = const_cast<wchar_t*>(cells[0].c_str());
        ListView_InsertItem(list, &item);
        for (int column = 1; column < 4; ++column) {
            ListView_SetItemText(list, row, column, const_cast<wchar_t*>(cells[column].c_str()));
        }
    }
}

}  // namespace qdipc::win
