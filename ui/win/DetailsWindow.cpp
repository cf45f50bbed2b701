#include "ui/win/DetailsWindow.h"

#include <mutex>
#include <thread>
#include <utility>

#include "discovery/CellText.h"
#include "discovery/OnvifDetailsText.h"
#include "ui/win/DialogSupport.h"
#include "ui/win/WideText.h"
#include "ui/win/WinResources.h"

namespace qdipc::win {
namespace {

// Posted by the asking thread once its answer waits in Pending.
constexpr UINT kDetailsAnswered = WM_APP + 1;

OnvifDetails AskDevice(const OnvifTarget& target, const std::optional<OnvifLogin>& login) {
    OnvifDeviceClient client(target);
    client.SetLogin(login);
    return client.QueryDetails();
}

struct LoginPrompt {
    std::string address;
    std::string user;
    std::optional<OnvifLogin> answer;
};

std::string ItemText(HWND dialog, int id) {
    const int length = GetWindowTextLengthW(GetDlgItem(dialog, id));
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    GetDlgItemTextW(dialog, id, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(length));
    return Utf8(text);
}

INT_PTR CALLBACK LoginProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(dialog, GWLP_USERDATA, lParam);
        auto* prompt = reinterpret_cast<LoginPrompt*>(lParam);
        SetDlgItemTextW(dialog, IDC_LOGIN_QUESTION,
                        Wide(prompt->address + " asks for a user name and password.").c_str());
        SetDlgItemTextW(dialog, IDC_LOGIN_USER, Wide(prompt->user).c_str());
        // The field still to fill has the focus.
        SetFocus(GetDlgItem(dialog, prompt->user.empty() ? IDC_LOGIN_USER : IDC_LOGIN_PASSWORD));
        return FALSE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        auto* prompt = reinterpret_cast<LoginPrompt*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
        if (LOWORD(wParam) == IDOK && prompt != nullptr) {
            prompt->answer =
                OnvifLogin{ItemText(dialog, IDC_LOGIN_USER), ItemText(dialog, IDC_LOGIN_PASSWORD)};
        }
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

}  // namespace

// One question to the device: the asking thread leaves its answer here and
// posts to target, unless the window went first.
struct DetailsWindow::Pending {
    std::mutex mutex;
    HWND target = nullptr;
    std::optional<OnvifDetails> details;
    bool loginSent = false;
};

std::optional<OnvifLogin> AskLoginDialog(HWND owner, const std::string& address,
                                         const std::string& knownUser) {
    LoginPrompt prompt{address, knownUser, std::nullopt};
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_LOGIN), owner, &LoginProc,
                    reinterpret_cast<LPARAM>(&prompt));
    return prompt.answer;
}

DetailsWindow::DetailsWindow(std::string ipCell, std::map<std::string, OnvifLogin>& logins,
                             Query query, AskLogin askLogin)
    : m_ipCell(std::move(ipCell)),
      m_target(ParseOnvifTarget(m_ipCell)),
      m_logins(logins),
      m_query(query ? std::move(query) : Query(AskDevice)),
      m_askLogin(askLogin ? std::move(askLogin) : AskLogin(AskLoginDialog)) {}

DetailsWindow::~DetailsWindow() {
    if (m_pending) {
        const std::lock_guard<std::mutex> lock(m_pending->mutex);
        m_pending->target = nullptr;
    }
    DestroyModeless(m_hwnd);
}

bool DetailsWindow::Create(HWND owner) {
    m_hwnd = CreateModeless(IDD_DETAILS, owner, &DetailsWindow::DialogProc, this);
    if (m_hwnd == nullptr) {
        return false;
    }
    ShowWindow(m_hwnd, SW_SHOW);
    // Only a row whose IP is a plain dotted quad (no port, no path) is asked.
    if (!m_target || AddressText(*m_target) != m_ipCell) {
        m_target.reset();
        Show("Device details: the device reports no valid IP address");
        return true;
    }
    m_address = AddressText(*m_target);
    const auto stored = m_logins.find(m_address);
    Ask(stored != m_logins.end() ? std::optional<OnvifLogin>(stored->second) : std::nullopt);
    return true;
}

std::string DetailsWindow::Text() const {
    std::string text = ItemText(m_hwnd, IDC_DETAILS_TEXT);
    std::string plain;
    for (const char c : text) {
        if (c != '\r') {
            plain += c;
        }
    }
    return plain;
}

void DetailsWindow::Show(const std::string& text) {
    SetDlgItemTextW(m_hwnd, IDC_DETAILS_TEXT, WideLines(text).c_str());
}

void DetailsWindow::Ask(const std::optional<OnvifLogin>& login) {
    Show("Asking " + m_address + " …");
    if (m_pending) {
        // An earlier question's answer is not waited for any more.
        const std::lock_guard<std::mutex> lock(m_pending->mutex);
        m_pending->target = nullptr;
    }
    m_pending = std::make_shared<Pending>();
    m_pending->target = m_hwnd;
    m_pending->loginSent = login.has_value();
    // Each call of the client is time-limited: the thread ends by itself.
    std::thread([pending = m_pending, query = m_query, target = *m_target, login] {
        OnvifDetails details = query(target, login);
        const std::lock_guard<std::mutex> lock(pending->mutex);
        pending->details = std::move(details);
        if (pending->target != nullptr) {
            PostMessageW(pending->target, kDetailsAnswered, 0, 0);
        }
    }).detach();
}

INT_PTR CALLBACK DetailsWindow::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = DialogOwner<DetailsWindow>(hwnd, message, lParam);
    if (self == nullptr) {
        return message == WM_INITDIALOG;
    }
    if (HidesOnClose(hwnd, message, wParam)) {
        return TRUE;
    }
    switch (message) {
        case kDetailsAnswered: {
            std::optional<OnvifDetails> details;
            bool loginSent = false;
            if (self->m_pending) {
                const std::lock_guard<std::mutex> lock(self->m_pending->mutex);
                details = std::exchange(self->m_pending->details, std::nullopt);
                loginSent = self->m_pending->loginSent;
            }
            if (details) {
                self->Answered(*details, loginSent);
            }
            return TRUE;
        }
        case WM_NCDESTROY:
            self->m_hwnd = nullptr;
            return FALSE;
        default:
            return FALSE;
    }
}

void DetailsWindow::Answered(const OnvifDetails& details, bool loginSent) {
    if (details.status == OnvifStatus::NeedsLogin ||
        (details.status == OnvifStatus::Refused && loginSent)) {
        AskForLogin(EscapeControls(details.reason));
        return;
    }
    if (details.status != OnvifStatus::Ok) {
        Show("Device details: " + m_address + ": " + EscapeControls(details.reason));
        return;
    }
    Show(FormatDetailsText(m_address, details));
}

void DetailsWindow::AskForLogin(const std::string& why) {
    Show("Device details: " + m_address + ": " + why);
    const auto stored = m_logins.find(m_address);
    const std::optional<OnvifLogin> login =
        m_askLogin(m_hwnd, m_address, stored != m_logins.end() ? stored->second.user : "");
    if (!login) {
        return;  // cancelled: the reason stays
    }
    m_logins[m_address] = *login;
    Ask(login);
}

}  // namespace qdipc::win
