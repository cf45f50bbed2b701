#include "ui/win/AssignWindow.h"

#include <commctrl.h>

#include <utility>

#include "discovery/CellText.h"
#include "ui/win/DialogSupport.h"
#include "ui/win/WideText.h"
#include "ui/win/WinResources.h"

namespace qdipc::win {

namespace {

constexpr int kColumns = 9;
// Posted by the plan checker's thread: a probed plan waits.
constexpr UINT kPlanChecked = WM_APP + 1;

// A field's text without the spaces around it.
std::string FieldText(HWND dialog, int id) {
    wchar_t text[128] = {};
    GetDlgItemTextW(dialog, id, text, 128);
    const std::string utf8 = Utf8(text);
    const auto first = utf8.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return utf8.substr(first, utf8.find_last_not_of(" \t") - first + 1);
}

}  // namespace

AssignWindow::AssignWindow(std::vector<AssignCamera> batch, AssignSurroundings surroundings,
                           AddressReservations* reservations, Starter start,
                           ChooseFile chooseExport)
    : m_model(std::move(batch), std::move(surroundings), reservations),
      m_start(std::move(start)),
      m_chooseExport(std::move(chooseExport)) {}

AssignWindow::AssignWindow(ProvisioningPlan plan, const std::string& fileName,
                           AssignSurroundings surroundings, AddressReservations* reservations,
                           Starter start, ChooseFile chooseExport)
    : m_model(std::move(plan), std::move(surroundings), reservations),
      m_start(std::move(start)),
      m_chooseExport(std::move(chooseExport)),
      // The file's name is operator text: plain in the title.
      m_title("Apply Plan " + EscapeControls(fileName)) {}

AssignWindow::~AssignWindow() {
    *m_alive = false;
    DestroyModeless(m_hwnd);
}

bool AssignWindow::Create(HWND owner) {
    m_hwnd = CreateModeless(IDD_ASSIGN, owner, &AssignWindow::DialogProc, this);
    if (m_hwnd == nullptr) {
        return false;
    }
    SetWindowTextW(m_hwnd, Wide(m_title).c_str());
    HWND list = GetDlgItem(m_hwnd, IDC_ASSIGN_LIST);
    ListView_SetExtendedListViewStyleEx(list, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT,
                                        LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    const wchar_t* titles[kColumns] = {L"Dev ID",  L"MAC",  L"IP",     L"New IP", L"Mask",
                                       L"Gateway", L"Mode", L"Result", L"Reason"};
    const int widths[kColumns] = {120, 110, 95, 95, 95, 95, 50, 95, 240};
    const UINT dpi = GetDpiForWindow(m_hwnd);
    for (int column = 0; column < kColumns; ++column) {
        LVCOLUMNW info{};
        info.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        info.pszText = const_cast<wchar_t*>(titles[column]);
        info.cx = dpi == 0 ? widths[column] : MulDiv(widths[column], static_cast<int>(dpi), 96);
        info.iSubItem = column;
        ListView_InsertColumn(list, column, &info);
    }
    for (int row = 0; row < static_cast<int>(m_model.Rows().size()); ++row) {
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = row;
        item.pszText = const_cast<wchar_t*>(L"");
        ListView_InsertItem(list, &item);
    }
    if (m_model.FromPlanFile()) {
        // The plan's lines are what goes out: no fields to plan from.
        for (const int id :
             {IDC_ASSIGN_START, IDC_ASSIGN_MASK, IDC_ASSIGN_GATEWAY, IDC_ASSIGN_START_LABEL,
              IDC_ASSIGN_MASK_LABEL, IDC_ASSIGN_GATEWAY_LABEL}) {
            ShowWindow(GetDlgItem(m_hwnd, id), SW_HIDE);
        }
    } else {
        // Typing in the fields plans at once; the addresses are probed off
        // the window's thread and the checked plan shown when it comes.
        m_model.CheckPlansInBackground([hwnd = m_hwnd] { PostMessageW(hwnd, kPlanChecked, 0, 0); });
        m_prefill = m_model.PrefilledFields();
        SetFields(m_prefill);
    }
    Replan();
    ShowWindow(m_hwnd, SW_SHOW);
    return true;
}

void AssignWindow::RememberFieldsIn(std::filesystem::path file) {
    if (m_hwnd == nullptr || m_model.FromPlanFile()) {
        return;
    }
    const AssignFields shown = Fields();
    const AssignFields fields = m_model.RememberFieldsIn(std::move(file), m_prefill, shown);
    if (fields.start == shown.start && fields.mask == shown.mask &&
        fields.gateway == shown.gateway) {
        return;
    }
    SetFields(fields);
    Replan();
}

INT_PTR CALLBACK AssignWindow::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = DialogOwner<AssignWindow>(hwnd, message, lParam);
    if (self == nullptr) {
        return message == WM_INITDIALOG;
    }
    if (HidesOnClose(hwnd, message, wParam)) {
        return TRUE;
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
                case IDC_ASSIGN_RETRY:
                    self->Retry();
                    return TRUE;
                case IDC_ASSIGN_UNDO:
                    self->Undo();
                    return TRUE;
                case IDC_ASSIGN_EXPORT:
                    self->Export();
                    return TRUE;
                default:
                    return FALSE;
            }
        case kPlanChecked:
            if (self->m_model.TakeCheckedPlan()) {
                self->Show();
            }
            return TRUE;
        case WM_NCDESTROY:
            self->m_hwnd = nullptr;
            return FALSE;
        default:
            return FALSE;
    }
}

void AssignWindow::SetFields(const AssignFields& fields) {
    // Filled in, not typed: no plan for each field on its way.
    m_filling = true;
    SetDlgItemTextW(m_hwnd, IDC_ASSIGN_START, Wide(fields.start).c_str());
    SetDlgItemTextW(m_hwnd, IDC_ASSIGN_MASK, Wide(fields.mask).c_str());
    SetDlgItemTextW(m_hwnd, IDC_ASSIGN_GATEWAY, Wide(fields.gateway).c_str());
    m_filling = false;
}

AssignFields AssignWindow::Fields() const {
    return {FieldText(m_hwnd, IDC_ASSIGN_START), FieldText(m_hwnd, IDC_ASSIGN_MASK),
            FieldText(m_hwnd, IDC_ASSIGN_GATEWAY)};
}

void AssignWindow::Replan() {
    m_model.Replan(Fields());
    Show();
}

void AssignWindow::Apply() {
    if (m_model.RunEverStarted()) {
        return;
    }
    const std::vector<int> rows = m_model.RowsToApply(Fields());
    Show();
    if (!rows.empty()) {
        StartOrders(m_model.OrdersFor(rows), rows);
    }
}

void AssignWindow::Retry() {
    if (!m_model.RetryEnabled()) {
        return;
    }
    const std::vector<int> rows = m_model.RetryRows();
    StartOrders(m_model.OrdersFor(rows), rows);
}

void AssignWindow::Undo() {
    if (!m_model.UndoEnabled()) {
        return;
    }
    AssignModel::UndoPlan undo = m_model.PlanUndoRun();
    if (!undo.message.empty()) {
        m_model.SetMessage(std::move(undo.message));
        Show();
        return;
    }
    StartOrders(std::move(undo.plan.orders), undo.rows);
}

void AssignWindow::Export() {
    std::wstring path;
    if (m_chooseExport) {
        path = m_chooseExport(m_hwnd);
    } else {
        path = AskFileName(m_hwnd,
                           {L"Export Results", L"CSV files (*.csv)\0*.csv\0All files (*.*)\0*.*\0",
                            L"assign-results.csv", L"csv"});
    }
    if (!path.empty()) {
        m_model.ExportResults(std::filesystem::path(path));
        Show();
    }
}

void AssignWindow::StartOrders(std::vector<AssignOrder> orders, const std::vector<int>& rows) {
    // The run holds the addresses from now on.
    m_model.ReleasePlan();
    m_model.RunStarted(rows);
    m_ranOnce = true;
    const int run = ++m_runNumber;
    for (const int id : {IDC_ASSIGN_START, IDC_ASSIGN_MASK, IDC_ASSIGN_GATEWAY}) {
        SendDlgItemMessageW(m_hwnd, id, EM_SETREADONLY, TRUE, 0);
    }
    Show();
    std::weak_ptr<bool> alive = m_alive;
    const auto current = [this, alive, run] {
        const auto self = alive.lock();
        return self && *self && run == m_runNumber;
    };
    ChangeRuns::BatchSinks sinks;
    sinks.onResult = [this, current](std::size_t index, const ProvisioningCamera& camera) {
        if (current()) {
            m_model.SetRunResult(index, camera);
            Show();
        }
    };
    sinks.onState = [this, current](const ChangeRuns::BatchState& state) {
        if (!current()) {
            return;
        }
        m_model.RunStateChanged(state.finished, state.failure, state.rollbackPath,
                                state.rollbackError);
        if (!m_model.RunEverStarted()) {
            // Nothing went out: the fields may be changed and applied again.
            for (const int id : {IDC_ASSIGN_START, IDC_ASSIGN_MASK, IDC_ASSIGN_GATEWAY}) {
                SendDlgItemMessageW(m_hwnd, id, EM_SETREADONLY, FALSE, 0);
            }
        }
        Show();
    };
    m_start(std::move(orders), std::move(sinks));
}

void AssignWindow::Show() {
    if (m_hwnd == nullptr) {
        return;
    }
    SetDlgItemTextW(m_hwnd, IDC_ASSIGN_MESSAGE, Wide(m_model.Message()).c_str());
    SetDlgItemTextW(m_hwnd, IDC_ASSIGN_SKIPPED, Wide(m_model.SkippedText()).c_str());
    SetDlgItemTextW(m_hwnd, IDC_ASSIGN_ROLLBACK, Wide(m_model.RollbackText()).c_str());
    // No count before anything was applied.
    SetDlgItemTextW(m_hwnd, IDC_ASSIGN_COUNTS,
                    m_ranOnce ? Wide(m_model.ProgressText()).c_str() : L"");
    EnableWindow(GetDlgItem(m_hwnd, IDC_ASSIGN_APPLY),
                 m_model.PlanOk() && !m_model.RunEverStarted());
    EnableWindow(GetDlgItem(m_hwnd, IDC_ASSIGN_RETRY), m_model.RetryEnabled());
    EnableWindow(GetDlgItem(m_hwnd, IDC_ASSIGN_UNDO), m_model.UndoEnabled());
    HWND list = GetDlgItem(m_hwnd, IDC_ASSIGN_LIST);
    const auto& rows = m_model.Rows();
    for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
        const AssignRow& line = rows[static_cast<std::size_t>(row)];
        // Camera and plan file texts as every cell shows them.
        const std::wstring cells[kColumns] = {Wide(DisplayCellText(line.camera.deviceId)),
                                              Wide(DisplayCellText(line.camera.mac)),
                                              Wide(DisplayCellText(line.camera.ip)),
                                              Wide(DisplayCellText(line.newIp)),
                                              Wide(DisplayCellText(line.mask)),
                                              Wide(DisplayCellText(line.gateway)),
                                              Wide(AddressingModeWord(line.mode)),
                                              Wide(CameraResultText(line.result)),
                                              Wide(DisplayCellText(line.reason))};
        for (int column = 0; column < kColumns; ++column) {
            ListView_SetItemText(list, row, column, const_cast<wchar_t*>(cells[column].c_str()));
        }
    }
    // Every column as wide as its widest cell or title (a reason is read
    // whole), the Result column room for its longest word from the start.
    for (int column = 0; column < kColumns; ++column) {
        ListView_SetColumnWidth(list, column, LVSCW_AUTOSIZE);
        const int cells = ListView_GetColumnWidth(list, column);
        ListView_SetColumnWidth(list, column, LVSCW_AUTOSIZE_USEHEADER);
        if (ListView_GetColumnWidth(list, column) < cells) {
            ListView_SetColumnWidth(list, column, cells);
        }
    }
    const int resultColumn = 7;
    const int widest = ListView_GetStringWidth(list, L"not confirmed") + 16;
    if (ListView_GetColumnWidth(list, resultColumn) < widest) {
        ListView_SetColumnWidth(list, resultColumn, widest);
    }
}

}  // namespace qdipc::win
