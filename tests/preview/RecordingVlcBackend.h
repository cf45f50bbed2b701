#pragma once
// A VlcBackend that records every call as a line of text and hands out
// made-up handles, for tests of the video pane's rules.

#include <QStringList>
#include <cstdint>
#include <deque>
#include <memory>

#include "ui/qt/VlcBackend.h"

namespace qdipc::test {

struct VlcCallLog {
    QStringList calls;
    int startResult = 0;         // what StartPlayback answers
    bool releasesFinish = true;  // what WaitForReleases answers
    bool failMedia = false;      // NewMedia answers null
    QList<qint64> waitLimitsMs;  // the limit of every WaitForReleases
    // What ReadStats answers, one reading per call (nothing when empty).
    std::deque<StreamStatsSample> stats;
    int snapshotResult = 0;  // what TakeSnapshot answers
};

class RecordingVlcBackend : public VlcBackend {
public:
    explicit RecordingVlcBackend(std::shared_ptr<VlcCallLog> log) : m_log(std::move(log)) {}

    libvlc_instance_t* NewInstance(const std::vector<std::string>& arguments) override {
        QStringList texts;
        for (const std::string& a : arguments) {
            texts << QString::fromStdString(a);
        }
        Record(QStringLiteral("NewInstance(%1)").arg(texts.join(QLatin1Char(' '))));
        return Handle<libvlc_instance_t>();
    }
    void ReleasePlayer(libvlc_media_player_t* player) override {
        Record(QStringLiteral("ReleasePlayer(%1)").arg(Name(player)));
    }
    libvlc_media_t* NewMedia(libvlc_instance_t* instance, const std::string& location) override {
        Record(QStringLiteral("NewMedia(%1, %2)")
                   .arg(Name(instance), QString::fromStdString(location)));
        return m_log->failMedia ? nullptr : Handle<libvlc_media_t>();
    }
    void AddOption(libvlc_media_t* media, const std::string& option) override {
        Record(
            QStringLiteral("AddOption(%1, %2)").arg(Name(media), QString::fromStdString(option)));
    }
    libvlc_media_player_t* NewPlayer(libvlc_media_t* media) override {
        Record(QStringLiteral("NewPlayer(%1)").arg(Name(media)));
        return media ? Handle<libvlc_media_player_t>() : nullptr;
    }
    void SetWindow(libvlc_media_player_t* player, WId window) override {
        Record(
            QStringLiteral("SetWindow(%1, %2)")
                .arg(Name(player), window != 0 ? QStringLiteral("window") : QStringLiteral("0")));
        lastWindow = window;
    }
    void ReleaseMedia(libvlc_media_t* media) override {
        Record(QStringLiteral("ReleaseMedia(%1)").arg(Name(media)));
    }
    int StartPlayback(libvlc_media_player_t* player) override {
        Record(QStringLiteral("StartPlayback(%1)").arg(Name(player)));
        return m_log->startResult;
    }
    bool WaitForReleases(std::chrono::milliseconds limit) override {
        Record(QStringLiteral("WaitForReleases"));
        m_log->waitLimitsMs << static_cast<qint64>(limit.count());
        return m_log->releasesFinish;
    }
    void SetPlayerGoneHandler(std::function<void()> handler) override {
        playerGone = std::move(handler);
    }
    void ReleaseInstance(libvlc_instance_t* instance) override {
        Record(QStringLiteral("ReleaseInstance(%1)").arg(Name(instance)));
    }

    void SetCredentials(libvlc_media_t* media, const std::string& user,
                        const std::string& password) override {
        Record(
            QStringLiteral("SetCredentials(%1, %2, %3)")
                .arg(Name(media), QString::fromStdString(user), QString::fromStdString(password)));
    }
    void SetStreamEventHandler(
        std::function<void(libvlc_media_player_t*, StreamEvent)> handler) override {
        streamEvent = std::move(handler);
    }

    std::optional<StreamStatsSample> ReadStats(libvlc_media_player_t* player) override {
        Record(QStringLiteral("ReadStats(%1)").arg(Name(player)));
        if (m_log->stats.empty()) {
            return std::nullopt;
        }
        StreamStatsSample sample = m_log->stats.front();
        m_log->stats.pop_front();
        return sample;
    }
    int TakeSnapshot(libvlc_media_player_t* player, const std::string& path) override {
        Record(
            QStringLiteral("TakeSnapshot(%1, %2)").arg(Name(player), QString::fromStdString(path)));
        return m_log->snapshotResult;
    }
    void SetSnapshotHandler(
        std::function<void(libvlc_media_player_t*, const std::string&)> handler) override {
        snapshotTaken = std::move(handler);
    }

    WId lastWindow = 0;
    std::function<void(libvlc_media_player_t*, const std::string&)> snapshotTaken;
    std::function<void()> playerGone;
    std::function<void(libvlc_media_player_t*, StreamEvent)> streamEvent;

private:
    // Handles are distinct made-up addresses, named h1, h2, ... in the log.
    template <typename T>
    T* Handle() {
        return reinterpret_cast<T*>(static_cast<std::uintptr_t>(0x1000 + 0x10 * ++m_handles));
    }
    static QString Name(const void* handle) {
        if (!handle) {
            return QStringLiteral("null");
        }
        return QStringLiteral("h%1").arg((reinterpret_cast<std::uintptr_t>(handle) - 0x1000) /
                                         0x10);
    }
    void Record(const QString& call) { m_log->calls << call; }

    std::shared_ptr<VlcCallLog> m_log;
    int m_handles = 0;
};

}  // namespace qdipc::test
