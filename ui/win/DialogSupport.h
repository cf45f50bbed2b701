#pragma once
// What every modeless dialog of the Windows window does alike: the object it
// belongs to kept with the window, made from its template and destroyed
// without its procedure reaching an object that is going, hidden (not
// destroyed) by Enter, Esc and the close box; and the system's file dialog.

#include <windows.h>

#include <string>

namespace qdipc::win {

// The object a dialog made by CreateModeless belongs to: stored at
// WM_INITDIALOG (then, and before, null), null again once DestroyModeless ran.
// A procedure starts with
//     auto* self = DialogOwner<T>(hwnd, message, lParam);
//     if (self == nullptr) return message == WM_INITDIALOG;
template <typename Owner>
Owner* DialogOwner(HWND hwnd, UINT message, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, lParam);
        return nullptr;
    }
    return reinterpret_cast<Owner*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

// The dialog of template templateId, owned by parent; null when it could not
// be made.
HWND CreateModeless(int templateId, HWND parent, DLGPROC procedure, void* owner);
// Destroys the dialog (when there is one) after cutting it from its owner.
void DestroyModeless(HWND dialog);
// Enter (IDOK), Esc (IDCANCEL) and the close box only hide a modeless dialog:
// true when the message was one of them and the dialog is hidden.
bool HidesOnClose(HWND dialog, UINT message, WPARAM wParam);

// The system's Open or Save As dialog. filter is the system's pairs ending
// in a double NUL; name is the file offered; extension (no dot, may be null)
// is added to a name typed without one. Empty when the operator cancelled.
struct FileQuestion {
    const wchar_t* title;
    const wchar_t* filter;
    std::wstring name;
    const wchar_t* extension = nullptr;
    bool save = true;
};
std::wstring AskFileName(HWND owner, const FileQuestion& question);

}  // namespace qdipc::win
