#include "preview/StreamFacts.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace qdipc {

namespace {

// A number with a fixed count of decimals, independent of the C locale (a
// window's process runs in the desktop's, where "25,0" would appear).
std::string Fixed(double value, int decimals) {
    char buffer[48];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    return result.ec == std::errc() ? std::string(buffer, result.ptr) : std::string("?");
}

bool GoesBack(const StreamStatsSample& earlier, const StreamStatsSample& later) {
    return later.at <= earlier.at || later.displayedPictures < earlier.displayedPictures ||
           later.readBytes < earlier.readBytes || later.lostPictures < earlier.lostPictures;
}

}  // namespace

void StreamFactsMeter::Add(const StreamStatsSample& sample) {
    if (!m_samples.empty() && GoesBack(m_samples.back(), sample)) {
        m_samples.clear();
    }
    m_samples.push_back(sample);
    // Keep the readings of the window, and always the one before the newest.
    while (m_samples.size() > 2 && m_samples.front().at < sample.at - kWindow) {
        m_samples.pop_front();
    }
}

void StreamFactsMeter::Reset() {
    m_samples.clear();
}

StreamFacts StreamFactsMeter::Facts() const {
    StreamFacts facts;
    if (m_samples.empty()) {
        return facts;
    }
    const StreamStatsSample& newest = m_samples.back();
    // The codec and size stay known while a later reading misses them.
    for (auto it = m_samples.rbegin(); it != m_samples.rend(); ++it) {
        if (facts.codec.empty()) {
            facts.codec = it->codec;
        }
        if (facts.width == 0 && it->width > 0 && it->height > 0) {
            facts.width = it->width;
            facts.height = it->height;
        }
    }
    facts.lostPictures = newest.lostPictures;
    facts.picture = newest.displayedPictures > 0;
    if (m_samples.size() >= 2) {
        const StreamStatsSample& oldest = m_samples.front();
        const double seconds = std::chrono::duration<double>(newest.at - oldest.at).count();
        facts.framesPerSecond =
            static_cast<double>(newest.displayedPictures - oldest.displayedPictures) / seconds;
        facts.bitsPerSecond =
            static_cast<double>(newest.readBytes - oldest.readBytes) * 8 / seconds;
    }
    return facts;
}

std::string FormatBitrate(double bitsPerSecond) {
    // The unit follows the rounded figure: 999,999 bit/s is "1.00 Mbit/s",
    // never "1000 kbit/s".
    if (std::round(bitsPerSecond) < 1e3) {
        return Fixed(std::max(0.0, bitsPerSecond), 0) + " bit/s";
    }
    if (std::round(bitsPerSecond / 1e3) < 1e3) {
        return Fixed(bitsPerSecond / 1e3, 0) + " kbit/s";
    }
    return Fixed(bitsPerSecond / 1e6, 2) + " Mbit/s";
}

std::string FormatStreamFacts(const StreamFacts& facts) {
    constexpr const char* kMeasuring = "measuring…";
    std::string text = "Codec: " + (facts.codec.empty() ? std::string("unknown") : facts.codec);
    text += "\nResolution: ";
    text += facts.width > 0 ? std::to_string(facts.width) + " × " + std::to_string(facts.height)
                            : std::string("unknown");
    text += "\nFrame rate: ";
    text += facts.framesPerSecond ? Fixed(*facts.framesPerSecond, 1) + " frames/s" : kMeasuring;
    text += "\nBitrate: ";
    text += facts.bitsPerSecond ? FormatBitrate(*facts.bitsPerSecond) : kMeasuring;
    text += "\nLost or late frames: " + std::to_string(facts.lostPictures);
    return text;
}

std::string NoPictureYetText(std::string_view why) {
    return "No picture yet: " + std::string(why);
}

std::string NoPictureReason(StreamEvent event, std::string_view host, int port) {
    const std::string at(host);
    if (at.empty() && event != StreamEvent::Stopped && event != StreamEvent::Picture) {
        return "No picture: no camera chosen";
    }
    switch (event) {
        case StreamEvent::Picture:
            return {};
        case StreamEvent::Refused:
            return "No picture: " + at + " refused the connection on RTSP port " +
                   std::to_string(port);
        case StreamEvent::NoAnswer:
            return "No picture: no answer from " + at;
        case StreamEvent::Unauthorized:
            return "No picture: " + at + " asks for a user name and password";
        case StreamEvent::NoVideo:
            return "No picture: the stream has no video";
        case StreamEvent::NoStream:
            return "No picture: " + at + " sent no stream";
        case StreamEvent::Stopped:
            return "Stream stopped";
    }
    return {};
}

std::string PreviewLocationFor(std::string_view ip) {
    return "rtsp://" + std::string(ip) + "/channel1/1";
}

std::string PreviewCachingOption() {
    return ":network-caching=" + std::to_string(kPreviewNetworkCaching.count());
}

std::vector<std::string> PreviewInstanceArguments() {
    // Each option left out would be looked up and opened on the way to the
    // first picture; the OpenGL output's set-up (a GL context per try of a
    // decoder format) held the first picture back by most of a second.
    return {"--ignore-config", "--aout=adummy",         "--no-osd",
            "--no-spu",        "--no-video-title-show", "--no-disable-screensaver",
            "--gl=none",       "--gles2=none"};
}

}  // namespace qdipc
