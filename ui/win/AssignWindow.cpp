#include "ui/win/AssignWindow.h"

#include <commctrl.h>

#include <utility>

#include "discovery/CellText.h"
#include "ui/win/WideText.h"
#include "ui/win/WinResources.h"

namespace qdipc::win {

namespace {

std::string FieldText(HWND dialog, int id) {
    wchar_t text[128] = {};
    GetDlgItemTextW(dialog, id, text, 128);
    return Utf8(text);
}

}  // namespace

AssignWindow::AssignWindow(std::vector<AssignCamera> batch, AssignSurroundings surroundings,
                           AddressReservations* reservations, Starter start)
    : m_model(std::move(batch), std::move(surroundings), reservations), m_start(std::move(start)) {}

AssignWindow::~AssignWindow() {
    *m_alive = false;
    if (m_hwnd != nullptr) {
        SetWindowLongPtrW(m_hwnd, GWLP_USERDATA, 0);
        DestroyWindow(m_hwnd);
    }
}

bool AssignWindow::Create(HWND owner) {
    m_hwnd = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ASSIGN), owner,
                                &AssignWindow::DialogProc, reinterpret_cast<LPARAM>(this));
    if (m_hwnd == nullptr) {
        return false;
    }
    HWND list = GetDlgItem(m_hwnd, IDC_ASSIGN_LIST);
    ListView_SetExtendedListViewStyleEx(list, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT,
                                        LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    const wchar_t* titles[] = {L"Dev ID", L"MAC", L"IP", L"New IP", L"Result"};
    const int widths[] = {120, 110, 100, 100, 200};
    const UINT dpi = GetDpiForWindow(m_hwnd);
    for (int column = 0; column < 5; ++column) {
        LVCOLUMNW info{};
        info.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        info.pszText = const_cast<wchar_t*>(titles[column]);
        info.cx = dpi == 0 ? widths[column] : MulDiv(widths[column], static_cast<int>(dpi), 96);
        info.iSubItem = column;
        ListView_InsertColumn(list, column, &info);
    }
    const AssignFields fields = m_model.PrefilledFields();
    m_filling = true;
    SetDlgItemTextW(m_hwnd, IDC_ASSIGN_START, Wide(fields.start).c_str());
    SetDlgItemTextW(m_hwnd, IDC_ASSIGN_MASK, Wide(fields.mask).c_str());
    SetDlgItemTextW(m_hwnd, IDC_ASSIGN_GATEWAY, Wide(fields.gateway).c_str());
    m_filling = false;
    Replan();
    ShowWindow(m_hwnd, SW_SHOW);
    return true;
}

INT_PTR CALLBACK AssignWindow::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, lParam);
        return TRUE;
    }
    auto* self = reinterpret_cast<AssignWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr) {
        return FALSE;
    }
    switch (message) {
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_ASSIGN_START:
                case IDC_ASSIGN_MASK:
                case IDC_ASSIGN_GATEWAY:
                    // Every change of a field plans again.
                    if (HIWORD(wParam) == EN_CHANGE && !self->m_filling) {
                        self->Replan();
                    }
                    return TRUE;
                case IDC_ASSIGN_APPLY:
                    self->Apply();
                    return TRUE;
                case IDOK:
                case IDCANCEL:
                    ShowWindow(hwnd, SW_HIDE);
                    return TRUE;
                default:
                    return FALSE;
            }
        case WM_CLOSE:
            ShowWindow(hwnd, SW_HIDE);
            return TRUE;
        case WM_NCDESTROY:
            self->m_hwnd = nullptr;
            return FALSE;
        default:
            return FALSE;
    }
}

void AssignWindow::Replan() {
    m_model.Replan({FieldText(m_hwnd, IDC_ASSIGN_START), FieldText(m_hwnd, IDC_ASSIGN_MASK),
                    FieldText(m_hwnd, IDC_ASSIGN_GATEWAY)});
    Show();
}

void AssignWindow::Apply() {
    const std::vector<int> rows = m_model.ApplyRows();
    if (rows.empty() || !m_model.PlanOk()) {
        return;
    }
    std::vector<AssignOrder> orders = m_model.OrdersFor(rows);
    m_model.ReleasePlan();
    m_model.RunStarted(rows);
    std::weak_ptr<bool> alive = m_alive;
    const std::string failure = m_start(
        std::move(orders), [this, alive](std::size_t index, const ProvisioningCamera& camera) {
            if (alive.expired() || !*alive.lock()) {
                return;
            }
            m_model.SetRunResult(index, camera);
            Show();
        });
    if (!failure.empty()) {
        m_model.RunAbandoned();
        SetDlgItemTextW(m_hwnd, IDC_ASSIGN_MESSAGE,
                        (L"Nothing was sent: " + Wide(EscapeControls(failure)) +
                         L". Make the state folder writable and Apply again.")
                            .c_str());
        return;
    }
    Show();
}

void AssignWindow::Show() {
    if (m_hwnd == nullptr) {
        return;
    }
    SetDlgItemTextW(m_hwnd, IDC_ASSIGN_MESSAGE, Wide(m_model.PlanMessage()).c_str());
    SetDlgItemTextW(m_hwnd, IDC_ASSIGN_SKIPPED, Wide(m_model.SkippedText()).c_str());
    EnableWindow(GetDlgItem(m_hwnd, IDC_ASSIGN_APPLY),
                 m_model.PlanOk() && !m_model.RunEverStarted());
    HWND list = GetDlgItem(m_hwnd, IDC_ASSIGN_LIST);
    const auto& rows = m_model.Rows();
    if (ListView_GetItemCount(list) != static_cast<int>(rows.size())) {
        ListView_DeleteAllItems(list);
        for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
            LVITEMW item{};
            item.mask = LVIF_TEXT;
            item.iItem = row;
            item.pszText = const_cast<wchar_t*>(L"");
            ListView_InsertItem(list, &item);
        }
    }
    int confirmed = 0;
    for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
        const AssignRow& line = rows[static_cast<std::size_t>(row)];
        std::string result = CameraResultText(line.result);
        if (!line.reason.empty()) {
            result += (result.empty() ? "" : ": ") + line.reason;
        }
        confirmed += line.result == CameraResult::Confirmed ? 1 : 0;
        const std::wstring cells[5] = {
            Wide(EscapeControls(line.camera.deviceId)), Wide(EscapeControls(line.camera.mac)),
            Wide(EscapeControls(line.camera.ip)), Wide(line.newIp), Wide(EscapeControls(result))};
        for (int column = 0; column < 5; ++column) {
            ListView_SetItemText(list, row, column, const_cast<wchar_t*>(cells[column].c_str()));
        }
    }
    SetDlgItemTextW(
        m_hwnd, IDC_ASSIGN_COUNTS,
        Wide(std::to_string(confirmed) + " of " + std::to_string(rows.size()) + " confirmed")
            .c_str());
}

}  // namespace qdipc::win
