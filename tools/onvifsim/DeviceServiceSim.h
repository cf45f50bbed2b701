#pragma once
// A simulated device service for tests: an HTTP server on a loopback port the
// test chooses (0: any free one) that answers GetSystemDateAndTime,
// GetDeviceInformation, GetNetworkInterfaces, GetProfiles and GetStreamUri
// with fixed facts, from a clock that runs clockOffset ahead of this host's.
// Every call but the clock wants a login: a WS-Security UsernameToken whose
// PasswordDigest is right and whose Created time lies within five minutes of
// the simulator's clock (Login::Token), or an HTTP digest (Login::HttpDigest).
// It has its own HTTP reading and its own scan of the SOAP text and shares no
// code with the tool. For the bounds tests it can also accept connections and
// never answer (Behaviour::Silent) or answer with an oversized body
// (Behaviour::Huge). Runs on its own thread until Stop or destruction.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace onvifsim {

enum class Login { None, Token, HttpDigest };
enum class Behaviour { Normal, Silent, Huge };

struct SimOptions {
    std::string listenAddress = "127.0.0.1";
    std::uint16_t port = 0;
    std::string user = "admin";
    std::string password = "secret";
    Login login = Login::Token;
    Behaviour behaviour = Behaviour::Normal;
    std::chrono::seconds clockOffset{7200};
    std::size_t hugeBytes = 2 * 1024 * 1024;
    // The host the stream locations name; empty: the listen address.
    std::string streamHost;
    // Namespace prefixes of the answers (devices use several).
    std::string envelopePrefix = "SOAP-ENV";
    std::string devicePrefix = "tds";
    std::string schemaPrefix = "tt";
};

class DeviceServiceSim {
public:
    explicit DeviceServiceSim(SimOptions options);
    ~DeviceServiceSim();
    DeviceServiceSim(const DeviceServiceSim&) = delete;
    DeviceServiceSim& operator=(const DeviceServiceSim&) = delete;

    // Binds and starts serving; false when the port cannot be bound.
    bool Start();
    void Stop();
    std::uint16_t Port() const { return m_port; }

    // Calls answered with a refusal of the login, and calls served.
    int Refusals() const { return m_refusals.load(); }
    int Served() const { return m_served.load(); }

private:
    void Serve();
    void Handle(int connection);
    std::string Answer(const std::string& headers, const std::string& body, int& status,
                       std::string& extraHeaders);

    SimOptions m_options;
    int m_listener = -1;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_refusals{0};
    std::atomic<int> m_served{0};
    std::vector<int> m_held;  // Silent: connections kept open unanswered
    std::thread m_thread;
    unsigned m_nonceCounter = 0;
};

}  // namespace onvifsim
