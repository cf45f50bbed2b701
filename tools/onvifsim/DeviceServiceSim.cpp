#include "tools/onvifsim/DeviceServiceSim.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

namespace onvifsim {
namespace {

constexpr std::size_t kMaxRequest = 256 * 1024;

std::string Hex(const unsigned char* bytes, unsigned length) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned i = 0; i < length; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

std::string Md5Hex(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr);
    return Hex(digest, length);
}

std::string Sha1Base64(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha1(), nullptr);
    unsigned char out[64] = {};
    const int written = EVP_EncodeBlock(out, digest, static_cast<int>(length));
    return std::string(reinterpret_cast<char*>(out), static_cast<std::size_t>(written));
}

std::string Base64Decode(const std::string& text) {
    std::string out(text.size(), '\0');
    const int written = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                        reinterpret_cast<const unsigned char*>(text.data()),
                                        static_cast<int>(text.size()));
    if (written < 0) {
        return {};
    }
    std::size_t length = static_cast<std::size_t>(written);
    // EVP_DecodeBlock counts the padding's zero bytes too.
    for (std::size_t i = text.size(); i > 0 && text[i - 1] == '=' && length > 0; --i) {
        --length;
    }
    out.resize(length);
    return out;
}

// The text of the first element whose local name is local, whatever its
// prefix; empty when none.
std::string ElementText(const std::string& xml, const std::string& local) {
    std::size_t at = 0;
    while ((at = xml.find('<', at)) != std::string::npos) {
        ++at;
        std::size_t end = at;
        while (end < xml.size() && xml[end] != ' ' && xml[end] != '>' && xml[end] != '/') {
            ++end;
        }
        std::string name = xml.substr(at, end - at);
        if (const auto colon = name.find(':'); colon != std::string::npos) {
            name = name.substr(colon + 1);
        }
        if (name == local) {
            const std::size_t open = xml.find('>', end);
            if (open == std::string::npos || xml[open - 1] == '/') {
                return {};
            }
            const std::size_t close = xml.find('<', open);
            return close == std::string::npos ? std::string()
                                              : xml.substr(open + 1, close - open - 1);
        }
    }
    return {};
}

// "2026-12-09T13:06:04Z" (a fraction of a second allowed) as seconds since 1970.
bool ParseCreated(const std::string& text, std::time_t& out) {
    std::tm tm{};
    int fieldsRead = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                    &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &fieldsRead) != 6 ||
        text.empty() || text.back() != 'Z') {
        return false;
    }
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    out = timegm(&tm);
    return true;
}

std::string HeaderValue(const std::string& headers, const std::string& name) {
    std::size_t at = 0;
    while ((at = headers.find("\r\n", at)) != std::string::npos) {
        at += 2;
        if (headers.size() - at > name.size() &&
            strncasecmp(headers.c_str() + at, name.c_str(), name.size()) == 0 &&
            headers[at + name.size()] == ':') {
            std::size_t start = at + name.size() + 1;
            while (start < headers.size() && headers[start] == ' ') {
                ++start;
            }
            return headers.substr(start, headers.find("\r\n", start) - start);
        }
    }
    return {};
}

// One parameter of a Digest Authorization header: name="value" or name=value.
std::string DigestParameter(const std::string& header, const std::string& name) {
    std::size_t at = 0;
    while ((at = header.find(name + "=", at)) != std::string::npos) {
        if (at == 0 || header[at - 1] == ' ' || header[at - 1] == ',') {
            std::size_t start = at + name.size() + 1;
            if (start < header.size() && header[start] == '"') {
                ++start;
                return header.substr(start, header.find('"', start) - start);
            }
            return header.substr(start, header.find(',', start) - start);
        }
        at += name.size();
    }
    return {};
}

bool SendAll(int fd, const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

DeviceServiceSim::DeviceServiceSim(SimOptions options) : m_options(std::move(options)) {}

DeviceServiceSim::~DeviceServiceSim() {
    Stop();
}

bool DeviceServiceSim::Start() {
    m_listener = socket(AF_INET, SOCK_STREAM, 0);
    if (m_listener < 0) {
        return false;
    }
    const int on = 1;
    setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(m_options.port);
    if (inet_pton(AF_INET, m_options.listenAddress.c_str(), &address.sin_addr) != 1 ||
        bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(m_listener, 16) != 0) {
        close(m_listener);
        m_listener = -1;
        return false;
    }
    socklen_t length = sizeof address;
    getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Serve(); });
    return true;
}

void DeviceServiceSim::Stop() {
    m_stop = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
    for (int fd : m_held) {
        close(fd);
    }
    m_held.clear();
    if (m_listener >= 0) {
        close(m_listener);
        m_listener = -1;
    }
}

void DeviceServiceSim::Serve() {
    while (!m_stop) {
        pollfd waiting{m_listener, POLLIN, 0};
        if (poll(&waiting, 1, 50) <= 0) {
            continue;
        }
        const int connection = accept(m_listener, nullptr, nullptr);
        if (connection < 0) {
            continue;
        }
        if (m_options.behaviour == Behaviour::Silent) {
            if (m_held.size() < 64) {
                m_held.push_back(connection);  // read nothing, answer nothing
            } else {
                close(connection);
            }
            continue;
        }
        Handle(connection);
        close(connection);
    }
}

void DeviceServiceSim::Handle(int connection) {
    // The request: headers up to the blank line, then Content-Length bytes;
    // two seconds at most.
    std::string request;
    std::size_t headerEnd = std::string::npos;
    std::size_t wanted = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    char buffer[8192];
    while (std::chrono::steady_clock::now() < deadline && request.size() < kMaxRequest) {
        if (headerEnd != std::string::npos && request.size() >= headerEnd + 4 + wanted) {
            break;
        }
        pollfd waiting{connection, POLLIN, 0};
        if (poll(&waiting, 1, 100) <= 0) {
            continue;
        }
        const ssize_t n = recv(connection, buffer, sizeof buffer, 0);
        if (n <= 0) {
            return;
        }
        request.append(buffer, static_cast<std::size_t>(n));
        if (headerEnd == std::string::npos) {
            headerEnd = request.find("\r\n\r\n");
            if (headerEnd != std::string::npos) {
                const std::string length =
                    HeaderValue(request.substr(0, headerEnd + 2), "Content-Length");
                wanted = length.empty() ? 0 : std::stoul(length);
            }
        }
    }
    if (headerEnd == std::string::npos || request.size() < headerEnd + 4 + wanted) {
        return;
    }
    const std::string headers = request.substr(0, headerEnd + 2);
    const std::string body = request.substr(headerEnd + 4, wanted);
    int status = 200;
    std::string extraHeaders;
    const std::string answer = Answer(headers, body, status, extraHeaders);
    const char* statusText = status == 200 ? "OK" : status == 401 ? "Unauthorized" : "Bad Request";
    std::string response = "HTTP/1.1 " + std::to_string(status) + " " + statusText + "\r\n";
    response += "Content-Type: application/soap+xml; charset=utf-8\r\n";
    response += extraHeaders;
    response += "Content-Length: " + std::to_string(answer.size()) + "\r\n";
    response += "Connection: close\r\n\r\n";
    response += answer;
    SendAll(connection, response);
    ++m_served;
}

std::string DeviceServiceSim::Answer(const std::string& headers, const std::string& body,
                                     int& status, std::string& extraHeaders) {
    const std::string& e = m_options.envelopePrefix;
    const std::string& d = m_options.devicePrefix;
    const std::string& t = m_options.schemaPrefix;
    const auto envelope = [&](const std::string& content) {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + e + ":Envelope xmlns:" + e +
               "=\"http://www.w3.org/2003/05/soap-envelope\" xmlns:" + d +
               "=\"http://www.onvif.org/ver10/device/wsdl\" xmlns:trt=\"http://www.onvif.org/"
               "ver10/media/wsdl\" xmlns:" +
               t +
               "=\"http://www.onvif.org/ver10/schema\" xmlns:ter=\"http://www.onvif.org/"
               "ver10/error\">\n<" +
               e + ":Body>" + content + "</" + e + ":Body></" + e + ":Envelope>\n";
    };
    const auto element = [&](const std::string& qname, const std::string& text) {
        return "<" + qname + ">" + text + "</" + qname + ">";
    };
    const std::time_t now =
        std::time(nullptr) + static_cast<std::time_t>(m_options.clockOffset.count());

    if (body.find("GetSystemDateAndTime") != std::string::npos) {
        std::tm utc{};
        gmtime_r(&now, &utc);
        const std::string date = element(t + ":Year", std::to_string(utc.tm_year + 1900)) +
                                 element(t + ":Month", std::to_string(utc.tm_mon + 1)) +
                                 element(t + ":Day", std::to_string(utc.tm_mday));
        const std::string time = element(t + ":Hour", std::to_string(utc.tm_hour)) +
                                 element(t + ":Minute", std::to_string(utc.tm_min)) +
                                 element(t + ":Second", std::to_string(utc.tm_sec));
        return envelope(
            element(d + ":GetSystemDateAndTimeResponse",
                    element(d + ":SystemDateAndTime",
                            element(t + ":DateTimeType", "NTP") +
                                element(t + ":UTCDateTime",
                                        element(t + ":Date", date) + element(t + ":Time", time)))));
    }

    // Everything else wants a login.
    const auto refuse = [&](int code) {
        ++m_refusals;
        status = code;
        return envelope("<" + e + ":Fault><" + e + ":Code><" + e + ":Value>" + e + ":Sender</" + e +
                        ":Value><" + e + ":Subcode><" + e + ":Value>ter:NotAuthorized</" + e +
                        ":Value></" + e + ":Subcode></" + e + ":Code><" + e + ":Reason><" + e +
                        ":Text xml:lang=\"en\">Sender not Authorized</" + e + ":Text></" + e +
                        ":Reason></" + e + ":Fault>");
    };
    if (m_options.login == Login::Token) {
        const std::string user = ElementText(body, "Username");
        const std::string digest = ElementText(body, "Password");
        const std::string nonce = Base64Decode(ElementText(body, "Nonce"));
        const std::string created = ElementText(body, "Created");
        std::time_t createdTime = 0;
        if (user != m_options.user || !ParseCreated(created, createdTime) ||
            createdTime < now - 300 || createdTime > now + 300 ||
            digest != Sha1Base64(nonce + created + m_options.password)) {
            return refuse(400);
        }
    } else if (m_options.login == Login::HttpDigest) {
        const std::string authorization = HeaderValue(headers, "Authorization");
        const std::string realm = "onvifsim";
        if (authorization.rfind("Digest ", 0) != 0) {
            ++m_nonceCounter;
            extraHeaders = "WWW-Authenticate: Digest realm=\"" + realm +
                           "\", qop=\"auth\", algorithm=MD5, nonce=\"" +
                           Md5Hex("nonce" + std::to_string(m_nonceCounter)) + "\"\r\n";
            status = 401;
            ++m_refusals;
            return {};
        }
        const std::string ha1 = Md5Hex(DigestParameter(authorization, "username") + ":" + realm +
                                       ":" + m_options.password);
        const std::string ha2 = Md5Hex("POST:" + DigestParameter(authorization, "uri"));
        const std::string expected = Md5Hex(ha1 + ":" + DigestParameter(authorization, "nonce") +
                                            ":" + DigestParameter(authorization, "nc") + ":" +
                                            DigestParameter(authorization, "cnonce") + ":" +
                                            DigestParameter(authorization, "qop") + ":" + ha2);
        if (DigestParameter(authorization, "username") != m_options.user ||
            DigestParameter(authorization, "response") != expected) {
            return refuse(401);
        }
    }

    if (m_options.behaviour == Behaviour::Huge) {
        return envelope(
            element(d + ":GetDeviceInformationResponse",
                    element(d + ":Manufacturer", std::string(m_options.hugeBytes, 'x'))));
    }
    if (body.find("GetDeviceInformation") != std::string::npos) {
        return envelope(element(
            d + ":GetDeviceInformationResponse",
            element(d + ":Manufacturer", "SimVendor") + element(d + ":Model", "SV-200 &amp; Dome") +
                element(d + ":FirmwareVersion", "4.2.1") + element(d + ":SerialNumber", "SN0042") +
                element(d + ":HardwareId", "HW-7")));
    }
    if (body.find("GetNetworkInterfaces") != std::string::npos) {
        return envelope(element(
            d + ":GetNetworkInterfacesResponse",
            "<" + d + ":NetworkInterfaces token=\"eth0\">" + element(t + ":Enabled", "true") +
                element(t + ":Info", element(t + ":Name", "eth0") +
                                         element(t + ":HwAddress", "02:00:5e:10:20:30")) +
                element(t + ":IPv4", element(t + ":Enabled", "true") +
                                         element(t + ":Config", element(t + ":DHCP", "false"))) +
                "</" + d + ":NetworkInterfaces>"));
    }
    const std::string host =
        m_options.streamHost.empty() ? m_options.listenAddress : m_options.streamHost;
    if (body.find("GetStreamUri") != std::string::npos) {
        const std::string token = ElementText(body, "ProfileToken");
        return envelope(element(
            "trt:GetStreamUriResponse",
            element("trt:MediaUri", element(t + ":Uri", "rtsp://" + host + ":554/stream/" + token) +
                                        element(t + ":Timeout", "PT0S"))));
    }
    if (body.find("GetProfiles") != std::string::npos) {
        return envelope(element("trt:GetProfilesResponse",
                                "<trt:Profiles token=\"main\" fixed=\"true\">" +
                                    element(t + ":Name", "Main Stream") +
                                    "</trt:Profiles><trt:Profiles token=\"sub\">" +
                                    element(t + ":Name", "Sub Stream") + "</trt:Profiles>"));
    }
    status = 400;
    return envelope("<" + e + ":Fault><" + e + ":Code><" + e + ":Value>" + e + ":Sender</" + e +
                    ":Value></" + e + ":Code></" + e + ":Fault>");
}

}  // namespace onvifsim
