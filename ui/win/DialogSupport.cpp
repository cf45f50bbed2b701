#include "ui/win/DialogSupport.h"

#include <commdlg.h>

namespace qdipc::win {

HWND CreateModeless(int templateId, HWND parent, DLGPROC procedure, void* owner) {
    return CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId), parent,
                              procedure, reinterpret_cast<LPARAM>(owner));
}

void DestroyModeless(HWND dialog) {
    if (dialog != nullptr) {
        SetWindowLongPtrW(dialog, GWLP_USERDATA, 0);
        DestroyWindow(dialog);
    }
}

bool HidesOnClose(HWND dialog, UINT message, WPARAM wParam) {
    const bool closing =
        message == WM_CLOSE ||
        (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL));
    if (closing) {
        ShowWindow(dialog, SW_HIDE);
    }
    return closing;
}

std::wstring AskFileName(HWND owner, const FileQuestion& question) {
    wchar_t file[MAX_PATH] = {};
    question.name.copy(file, MAX_PATH - 1);
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = question.filter;
    dialog.lpstrFile = file;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrDefExt = question.extension;
    dialog.lpstrTitle = question.title;
    dialog.Flags = question.save ? OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST
                                 : OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
    const BOOL chosen = question.save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog);
    return chosen ? std::wstring(file) : std::wstring();
}

}  // namespace qdipc::win
