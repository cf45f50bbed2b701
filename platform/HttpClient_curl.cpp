#include <curl/curl.h>

#include <algorithm>
#include <mutex>

#include "platform/HttpClient.h"

namespace qdipc {
namespace {

std::string DottedQuad(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

struct Sink {
    std::string* body;
    std::size_t limit;
    bool overflow = false;
};

std::size_t OnData(char* data, std::size_t size, std::size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    const std::size_t length = size * count;
    if (sink->body->size() + length > sink->limit) {
        sink->overflow = true;
        return 0;  // libcurl ends the transfer with CURLE_WRITE_ERROR
    }
    sink->body->append(data, length);
    return length;
}

// One transfer; digest: answer an HTTP digest challenge with the request's
// user name and password.
CURLcode Perform(const HttpRequest& request, const std::string& url, bool digest,
                 std::chrono::milliseconds totalLimit, Sink& sink, long& status) {
    CURL* curl = curl_easy_init();
    if (curl == nullptr) {
        return CURLE_FAILED_INIT;
    }
    curl_slist* headers = nullptr;
    for (const auto& [name, value] : request.headers) {
        headers = curl_slist_append(headers, (name + ": " + value).c_str());
    }
    // No "Expect: 100-continue" pause before the body.
    headers = curl_slist_append(headers, "Expect:");

    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    // Plain HTTP to that address only: no other scheme, no redirect, no proxy
    // from the environment.
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(std::min(request.connectLimit, totalLimit).count()));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(totalLimit.count()));
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(request.maxResponse));
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(request.body.size()));
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnData);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    if (digest) {
        curl_easy_setopt(curl, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_DIGEST));
        curl_easy_setopt(curl, CURLOPT_USERNAME, request.user.c_str());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, request.password.c_str());
    }
    const CURLcode code = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return code;
}

}  // namespace

HttpResponse HttpPost(const HttpRequest& request) {
    static std::once_flag started;
    std::call_once(started, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    HttpResponse response;
    const std::string host = DottedQuad(request.address);
    const std::string url = "http://" + host + ":" + std::to_string(request.port) + request.path;
    const auto start = std::chrono::steady_clock::now();
    Sink sink{&response.body, request.maxResponse};
    long status = 0;
    // The request goes without HTTP authentication first: with it, libcurl
    // would send the first request without its body (waiting for a
    // challenge), and a device that checks the SOAP login only would refuse
    // that empty request. Only a 401 is tried again with a digest, in the
    // time that is left.
    CURLcode code = Perform(request, url, false, request.totalLimit, sink, status);
    if (code == CURLE_OK && status == 401 && !request.user.empty()) {
        const auto left =
            request.totalLimit - std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - start);
        if (left > std::chrono::milliseconds(0)) {
            response.body.clear();
            code = Perform(request, url, true, left, sink, status);
        }
    }

    const std::string where = host + " port " + std::to_string(request.port);
    if (code == CURLE_OK) {
        response.outcome = HttpOutcome::Answered;
        response.status = static_cast<int>(status);
        return response;
    }
    response.body.clear();
    if (sink.overflow || code == CURLE_FILESIZE_EXCEEDED) {
        response.outcome = HttpOutcome::TooLarge;
        response.error =
            where + " sent an answer larger than " + std::to_string(request.maxResponse) + " bytes";
    } else if (code == CURLE_OPERATION_TIMEDOUT) {
        response.outcome = HttpOutcome::TimedOut;
        response.error = "no answer from " + where + " in time";
    } else if (code == CURLE_COULDNT_CONNECT) {
        response.outcome = HttpOutcome::Refused;
        response.error = where + " refused the connection";
    } else {
        response.outcome = HttpOutcome::Failed;
        response.error = "HTTP to " + where + " failed: " + curl_easy_strerror(code);
    }
    return response;
}

}  // namespace qdipc
