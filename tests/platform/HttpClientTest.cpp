// The platform HTTP client (libcurl; WinHTTP under Wine) against a one-answer
// TCP server of the test's own on a loopback port: the request as sent, the
// size limit at the byte, and the time limit of a server that never answers.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using SocketHandle = SOCKET;
void CloseSocket(SocketHandle s) {
    closesocket(s);
}
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
using SocketHandle = int;
void CloseSocket(SocketHandle s) {
    close(s);
}
#endif

#include "platform/HttpClient.h"

namespace qdipc {
namespace {

using namespace std::chrono;

// Serves one connection: reads the request (headers and Content-Length
// bytes), then answers with body (or, when silent, holds the connection
// open unanswered for up to 8 s).
class OneAnswerServer {
public:
    OneAnswerServer(std::string body, bool silent) : m_body(std::move(body)), m_silent(silent) {
        m_listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(m_listener, 4);
        socklen_t length = sizeof address;
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~OneAnswerServer() {
        m_stop = true;
        CloseSocket(m_listener);
        m_thread.join();
    }
    std::uint16_t Port() const { return m_port; }
    std::string Request() const { return m_request; }

private:
    void Serve() {
        const SocketHandle connection = accept(m_listener, nullptr, nullptr);
        if (m_stop) {
            return;
        }
        char buffer[4096];
        while (m_request.find("\r\n\r\n") == std::string::npos ||
               m_request.size() < m_request.find("\r\n\r\n") + 4 + BodyLength()) {
            const int n = static_cast<int>(recv(connection, buffer, sizeof buffer, 0));
            if (n <= 0) {
                break;
            }
            m_request.append(buffer, static_cast<std::size_t>(n));
        }
        if (m_silent) {
            for (int i = 0; i < 80 && !m_stop; ++i) {
                std::this_thread::sleep_for(milliseconds(100));
            }
        } else {
            const std::string answer =
                "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " +
                std::to_string(m_body.size()) + "\r\nConnection: close\r\n\r\n" + m_body;
            send(connection, answer.data(), static_cast<int>(answer.size()), 0);
        }
        CloseSocket(connection);
    }
    std::size_t BodyLength() const {
        const auto at = m_request.find("Content-Length: ");
        return at == std::string::npos ? 0 : std::stoul(m_request.substr(at + 16));
    }

    std::string m_body;
    bool m_silent;
    SocketHandle m_listener;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::string m_request;
    std::thread m_thread;
};

HttpRequest RequestTo(std::uint16_t port) {
    HttpRequest request;
    request.address = 0x7F000001;
    request.port = port;
    request.path = "/onvif/device_service";
    request.headers.emplace_back("Content-Type", "application/soap+xml; charset=utf-8");
    request.body = "<x>body</x>";
    return request;
}

TEST(HttpClient, PostsTheRequestAndReadsTheAnswer) {
    OneAnswerServer server("<answer/>", false);
    const HttpResponse response = HttpPost(RequestTo(server.Port()));
    ASSERT_EQ(response.outcome, HttpOutcome::Answered) << response.error;
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body, "<answer/>");
    const std::string request = server.Request();
    EXPECT_EQ(request.rfind("POST /onvif/device_service HTTP/1.1\r\n", 0), 0u) << request;
    EXPECT_NE(request.find("Content-Type: application/soap+xml; charset=utf-8\r\n"),
              std::string::npos);
    EXPECT_EQ(request.substr(request.size() - 11), "<x>body</x>");
}

TEST(HttpClient, AnswerOneByteOverTheLimitIsRefused) {
    {
        OneAnswerServer server(std::string(1000, 'a'), false);
        HttpRequest request = RequestTo(server.Port());
        request.maxResponse = 1000;
        EXPECT_EQ(HttpPost(request).outcome, HttpOutcome::Answered);
    }
    OneAnswerServer server(std::string(1001, 'a'), false);
    HttpRequest request = RequestTo(server.Port());
    request.maxResponse = 1000;
    const HttpResponse response = HttpPost(request);
    EXPECT_EQ(response.outcome, HttpOutcome::TooLarge);
    EXPECT_EQ(response.body, "");
}

TEST(HttpClient, ServerThatNeverAnswersEndsAtTheTotalLimit) {
    OneAnswerServer server("", true);
    HttpRequest request = RequestTo(server.Port());
    request.totalLimit = milliseconds(1500);
    const auto start = steady_clock::now();
    const HttpResponse response = HttpPost(request);
    EXPECT_EQ(response.outcome, HttpOutcome::TimedOut) << response.error;
    EXPECT_LT(steady_clock::now() - start, seconds(7));  // a ceiling, not a speed target
}

}  // namespace
}  // namespace qdipc
