#include "ui/win/SettingWindow.h"

#include <cstring>
#include <string>

#include "discovery/CellText.h"
#include "discovery/DeviceCodecs.h"
#include "discovery/DeviceList.h"
#include "settings/SettingsValidation.h"
#include "ui/win/DialogSupport.h"
#include "ui/win/SearchWindow.h"
#include "ui/win/WideText.h"
#include "ui/win/WinResources.h"

namespace qdipc::win {

namespace {

std::string EditText(HWND dialog, int id) {
    HWND edit = GetDlgItem(dialog, id);
    const int length = GetWindowTextLengthW(edit);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    GetWindowTextW(edit, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(length));
    return Utf8(text);
}

}  // namespace

SettingWindow::SettingWindow(SearchWindow& main, const DeviceList& list, int row)
    : m_main(main),
      m_loaded(BuildSettingsRecordFromRow([&](int column) { return list.CellText(row, column); })) {
}

SettingWindow::~SettingWindow() {
    DestroyModeless(m_hwnd);
}

bool SettingWindow::Create(HWND owner) {
    m_hwnd = CreateModeless(IDD_SETTING, owner, &SettingWindow::DialogProc, this);
    if (m_hwnd == nullptr) {
        return false;
    }
    ShowWindow(m_hwnd, SW_SHOW);
    LoadRecord(m_loaded);
    return true;
}

INT_PTR CALLBACK SettingWindow::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = DialogOwner<SettingWindow>(hwnd, message, lParam);
    if (self == nullptr) {
        return message == WM_INITDIALOG;
    }
    // Enter in an edit, Esc and the close box only hide it; nothing is sent.
    if (HidesOnClose(hwnd, message, wParam)) {
        return TRUE;
    }
    switch (message) {
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_SET_MODIFY:
                    if (HIWORD(wParam) == BN_CLICKED) {
                        self->OnModify();
                    }
                    return TRUE;
                default:
                    return FALSE;
            }
        case WM_NCDESTROY:
            self->m_hwnd = nullptr;
            return FALSE;
        default:
            return FALSE;
    }
}

void SettingWindow::LoadRecord(const NetSettingsRecord& record) {
    std::memcpy(m_devIdBlock.data(), record.bytes.data() + record::kDevIdBlock,
                m_devIdBlock.size());
    // Record texts are shown as every cell is: decoded, controls escaped.
    SetDlgItemTextW(m_hwnd, IDC_SET_IP, Wide(DisplayCellText(record.Text(record::kIp))).c_str());
    SetDlgItemTextW(m_hwnd, IDC_SET_MAC,
                    Wide(FormatMac(record.bytes.data() + record::kMac)).c_str());
    SetDlgItemTextW(m_hwnd, IDC_SET_MASK,
                    Wide(DisplayCellText(record.Text(record::kMask))).c_str());
    SetDlgItemTextW(m_hwnd, IDC_SET_GATEWAY,
                    Wide(DisplayCellText(record.Text(record::kGateway))).c_str());
    int checked = IDC_SET_STATIC;
    if (record.Mode() == AddressingMode::Dhcp) {
        checked = IDC_SET_DHCP;
    } else if (record.Mode() == AddressingMode::Adsl) {
        checked = IDC_SET_ADSL;
    }
    CheckRadioButton(m_hwnd, IDC_SET_STATIC, IDC_SET_ADSL, checked);
    // "Set：" (full-width colon) and the IP as its cell shows it.
    SetWindowTextW(m_hwnd,
                   (L"Set\uFF1A" + Wide(DisplayCellText(record.Text(record::kIp)))).c_str());
}

void SettingWindow::OnModify() {
    AddressingMode mode = AddressingMode::Static;
    if (IsDlgButtonChecked(m_hwnd, IDC_SET_DHCP) == BST_CHECKED) {
        mode = AddressingMode::Dhcp;
    } else if (IsDlgButtonChecked(m_hwnd, IDC_SET_ADSL) == BST_CHECKED) {
        mode = AddressingMode::Adsl;
    }
    const std::string ip = EditText(m_hwnd, IDC_SET_IP);
    const std::string mask = EditText(m_hwnd, IDC_SET_MASK);
    const std::string gateway = EditText(m_hwnd, IDC_SET_GATEWAY);
    const std::string mac = EditText(m_hwnd, IDC_SET_MAC);
    // The whole texts are checked, as the operator sees them; what passes is
    // ASCII and fits its field, so it is sent unchanged.
    if (const auto problem = ValidateSettings(ip, mask, gateway, mac, mode)) {
        m_main.ShowMessage(Wide(EscapeControls(problem->reason)), MB_OK | MB_ICONWARNING);
        static constexpr int kEdits[] = {IDC_SET_IP, IDC_SET_MASK, IDC_SET_GATEWAY, IDC_SET_MAC};
        if (m_hwnd != nullptr) {
            HWND wrong = GetDlgItem(m_hwnd, kEdits[static_cast<std::size_t>(problem->field)]);
            SetFocus(wrong);
            SendMessageW(wrong, EM_SETSEL, 0, -1);
        }
        return;
    }
    m_main.ApplySettings(BuildModifyRecord(m_devIdBlock, mode, ip, mask, gateway, mac));
}

}  // namespace qdipc::win
