// HTTP on Windows: WinHTTP, no proxy, no redirects; an HTTP digest
// challenge is answered once with the request's user name and password.

// clang-format off
#include <windows.h>
#include <winhttp.h>
// clang-format on

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/HttpClient.h"

namespace qdipc {
namespace {

std::string DottedQuad(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

std::wstring Wide(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0) {
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(),
                            size);
    }
    return out;
}

struct Handle {
    HINTERNET value = nullptr;
    ~Handle() {
        if (value != nullptr) {
            WinHttpCloseHandle(value);
        }
    }
};

// The exchange itself, with WinHTTP's timeouts set from the deadline.
HttpResponse Exchange(const HttpRequest& request, std::chrono::steady_clock::time_point deadline) {
    using std::chrono::milliseconds;
    using std::chrono::steady_clock;
    HttpResponse response;
    const std::string host = DottedQuad(request.address);
    const std::string where = host + " port " + std::to_string(request.port);
    const auto left = [&] {
        const auto rest =
            std::chrono::duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        return static_cast<int>(rest > 1 ? rest : 1);
    };
    const auto failed = [&](DWORD code) {
        response.body.clear();
        if (code == ERROR_WINHTTP_TIMEOUT) {
            response.outcome = HttpOutcome::TimedOut;
            response.error = "no answer from " + where + " in time";
        } else if (code == ERROR_WINHTTP_CANNOT_CONNECT) {
            response.outcome = HttpOutcome::Refused;
            response.error = where + " refused the connection";
        } else {
            response.outcome = HttpOutcome::Failed;
            response.error =
                "HTTP to " + where + " failed (WinHTTP error " + std::to_string(code) + ")";
        }
        return response;
    };

    Handle session{WinHttpOpen(L"qd_ip_search", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                               WINHTTP_NO_PROXY_BYPASS, 0)};
    if (session.value == nullptr) {
        return failed(GetLastError());
    }
    Handle connection{WinHttpConnect(session.value, Wide(host).c_str(), request.port, 0)};
    if (connection.value == nullptr) {
        return failed(GetLastError());
    }
    Handle http{WinHttpOpenRequest(connection.value, L"POST", Wide(request.path).c_str(), nullptr,
                                   WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, 0)};
    if (http.value == nullptr) {
        return failed(GetLastError());
    }
    DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
    WinHttpSetOption(http.value, WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects, sizeof noRedirects);
    std::wstring headers;
    for (const auto& [name, value] : request.headers) {
        headers += Wide(name + ": " + value + "\r\n");
    }

    bool challenged = false;
    for (;;) {
        const int total = left();
        WinHttpSetTimeouts(
            http.value, total,
            static_cast<int>(std::min<long long>(request.connectLimit.count(), total)), total,
            total);
        if (!WinHttpSendRequest(http.value,
                                headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                                static_cast<DWORD>(-1L), const_cast<char*>(request.body.data()),
                                static_cast<DWORD>(request.body.size()),
                                static_cast<DWORD>(request.body.size()), 0) ||
            !WinHttpReceiveResponse(http.value, nullptr)) {
            return failed(GetLastError());
        }
        DWORD status = 0;
        DWORD size = sizeof status;
        WinHttpQueryHeaders(http.value, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
        response.status = static_cast<int>(status);
        DWORD supported = 0;
        DWORD first = 0;
        DWORD target = 0;
        if (status == 401 && !challenged && !request.user.empty() &&
            WinHttpQueryAuthSchemes(http.value, &supported, &first, &target) &&
            (supported & WINHTTP_AUTH_SCHEME_DIGEST) != 0) {
            challenged = true;
            WinHttpSetCredentials(http.value, WINHTTP_AUTH_TARGET_SERVER,
                                  WINHTTP_AUTH_SCHEME_DIGEST, Wide(request.user).c_str(),
                                  Wide(request.password).c_str(), nullptr);
            continue;
        }
        break;
    }

    for (;;) {
        if (steady_clock::now() >= deadline) {
            return failed(ERROR_WINHTTP_TIMEOUT);
        }
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(http.value, &available)) {
            return failed(GetLastError());
        }
        if (available == 0) {
            break;
        }
        if (response.body.size() + available > request.maxResponse) {
            response.body.clear();
            response.outcome = HttpOutcome::TooLarge;
            response.error = where + " sent an answer larger than " +
                             std::to_string(request.maxResponse) + " bytes";
            return response;
        }
        const std::size_t at = response.body.size();
        response.body.resize(at + available);
        DWORD read = 0;
        if (!WinHttpReadData(http.value, response.body.data() + at, available, &read)) {
            return failed(GetLastError());
        }
        response.body.resize(at + read);
    }
    response.outcome = HttpOutcome::Answered;
    return response;
}

}  // namespace

HttpResponse HttpPost(const HttpRequest& request) {
    // WinHTTP's timeouts bound each step, but not every implementation keeps
    // them (Wine's waits for a silent server for good, and closing the
    // handle does not end the wait): the exchange runs on a thread of its
    // own, and at the deadline the caller gets its answer, "no answer in
    // time", while the thread ends by itself later with its own copies.
    struct Shared {
        std::mutex mutex;
        std::condition_variable finished;
        bool done = false;
        HttpResponse response;
    };
    const auto deadline = std::chrono::steady_clock::now() + request.totalLimit;
    auto shared = std::make_shared<Shared>();
    std::thread([shared, request, deadline] {
        HttpResponse response = Exchange(request, deadline);
        std::lock_guard lock(shared->mutex);
        shared->response = std::move(response);
        shared->done = true;
        shared->finished.notify_all();
    }).detach();
    std::unique_lock lock(shared->mutex);
    if (!shared->finished.wait_until(lock, deadline + std::chrono::milliseconds(100),
                                     [&] { return shared->done; })) {
        HttpResponse late;
        late.outcome = HttpOutcome::TimedOut;
        late.error = "no answer from " + DottedQuad(request.address) + " port " +
                     std::to_string(request.port) + " in time";
        return late;
    }
    return std::move(shared->response);
}

}  // namespace qdipc
