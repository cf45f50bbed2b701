#pragma once
// "Device Details" (dialog template 130), modeless, owned by the main
// window: what a device's own device service says about it (the core's
// OnvifDeviceClient and FormatDetailsText), as plain text in a read-only
// box. The service is asked off the window's thread; a device that wants a
// login gets the "Camera login" prompt (template 131), and what is entered
// is kept in the main window's in-memory store by the row's address. A row
// whose IP is no strict dotted quad is not asked at all.

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "discovery/OnvifDevice.h"

namespace qdipc::win {

class DetailsWindow {
public:
    // Asks the device; runs on a thread of its own.
    using Query = std::function<OnvifDetails(const OnvifTarget&, const std::optional<OnvifLogin>&)>;
    // Asks the operator for a login for address (the user name known so
    // far offered); nothing when cancelled.
    using AskLogin = std::function<std::optional<OnvifLogin>(HWND owner, const std::string& address,
                                                             const std::string& knownUser)>;

    // logins: the main window's store, which outlives this window. Empty
    // query: OnvifDeviceClient; empty askLogin: the "Camera login" prompt.
    DetailsWindow(std::string ipCell, std::map<std::string, OnvifLogin>& logins, Query query,
                  AskLogin askLogin);
    ~DetailsWindow();
    DetailsWindow(const DetailsWindow&) = delete;
    DetailsWindow& operator=(const DetailsWindow&) = delete;

    bool Create(HWND owner);
    HWND Handle() const { return m_hwnd; }
    // What the box shows (UTF-8, line ends as "\n").
    std::string Text() const;

private:
    struct Pending;
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void Ask(const std::optional<OnvifLogin>& login);
    void Answered(const OnvifDetails& details, bool loginSent);
    void AskForLogin(const std::string& why);
    void Show(const std::string& text);

    std::string m_ipCell;
    std::optional<OnvifTarget> m_target;
    std::string m_address;
    std::map<std::string, OnvifLogin>& m_logins;
    Query m_query;
    AskLogin m_askLogin;
    std::shared_ptr<Pending> m_pending;  // the question out now
    HWND m_hwnd = nullptr;
};

// The "Camera login" prompt as a modal dialog.
std::optional<OnvifLogin> AskLoginDialog(HWND owner, const std::string& address,
                                         const std::string& knownUser);

}  // namespace qdipc::win
