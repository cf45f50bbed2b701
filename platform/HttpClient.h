#pragma once
// A plain HTTP client for a device's web services: one POST to an IPv4
// address (a number, so no host name is ever looked up), time-limited and
// size-limited, with HTTP digest authentication when the device asks for it
// and credentials are given. libcurl on Linux (HttpClient_curl.cpp), WinHTTP
// on Windows (HttpClient_win.cpp).

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qdipc {

inline constexpr std::chrono::milliseconds kHttpConnectLimit{2000};
inline constexpr std::chrono::milliseconds kHttpTotalLimit{5000};
inline constexpr std::size_t kHttpMaxResponse = 1024 * 1024;

struct HttpRequest {
    std::uint32_t address = 0;  // IPv4, host byte order (10.0.0.5 is 0x0A000005)
    std::uint16_t port = 80;
    std::string path = "/";  // starts with '/'
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // Used for HTTP digest only, and only when the device answers 401 with a
    // digest challenge; empty user: no HTTP authentication.
    std::string user;
    std::string password;
    std::chrono::milliseconds connectLimit = kHttpConnectLimit;
    std::chrono::milliseconds totalLimit = kHttpTotalLimit;
    std::size_t maxResponse = kHttpMaxResponse;
};

enum class HttpOutcome {
    Answered,  // a complete answer came (any status)
    Refused,   // the connection was refused
    TimedOut,  // no connection or no complete answer in time
    TooLarge,  // the answer's body is over maxResponse bytes
    Failed,    // anything else (a broken answer, a reset)
};

struct HttpResponse {
    HttpOutcome outcome = HttpOutcome::Failed;
    int status = 0;  // the HTTP status when Answered
    std::string body;
    std::string error;  // one line for the operator when not Answered
};

HttpResponse HttpPost(const HttpRequest& request);

}  // namespace qdipc
