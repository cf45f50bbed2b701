#include "ui/qt/CVideoStatic.h"

#include <QLabel>
#include <QPainter>
#include <QTimer>
#include <algorithm>
#include <cctype>

#include "discovery/CellText.h"
#include "discovery/OnvifDevice.h"
#include "preview/StreamFacts.h"
#include "settings/SettingsValidation.h"
#include "ui/qt/CCredentialsDlg.h"
#include "ui/qt/DeviceTable.h"
#include "ui/qt/LibVlcBackend.h"

namespace {

// "host" of "rtsp://host[:port]/path" when host is a dotted quad and
// nothing else comes before the path (no "user@", no second ":" or "@"),
// else empty. The location is built from a camera's IP cell, which is any
// text the camera chose: "10.9.0.5:1@10.9.0.6" must not reach a URL parser
// that connects to the host after the "@" while the credentials are looked
// up by the text before the ":".
std::string HostOf(const std::string& location) {
    const std::size_t start = location.find("://");
    if (start == std::string::npos) {
        return {};
    }
    const std::string rest = location.substr(start + 3);
    const std::string authority = rest.substr(0, rest.find('/'));
    const std::string host = authority.substr(0, authority.find(':'));
    const std::string port =
        host.size() < authority.size() ? authority.substr(host.size() + 1) : std::string();
    const bool portOk = port.size() <= 5 && std::all_of(port.begin(), port.end(), [](char c) {
                            return c >= '0' && c <= '9';
                        });
    if (!qdipc::ParseIpv4Strict(host) || !portOk ||
        (host.size() < authority.size() && port.empty())) {
        return {};
    }
    return host;
}

int PortOf(const std::string& location) {
    const std::size_t start = location.find("://");
    const std::string rest = start == std::string::npos ? location : location.substr(start + 3);
    const std::string authority = rest.substr(0, rest.find('/'));
    const std::size_t colon = authority.find(':');
    const int port = colon == std::string::npos ? 0 : std::atoi(authority.c_str() + colon + 1);
    return port > 0 ? port : 554;
}

QString ReasonText(qdipc::StreamEvent event, const std::string& location) {
    return QString::fromStdString(
        qdipc::NoPictureReason(event, HostOf(location), PortOf(location)));
}

}  // namespace

CVideoStatic::CVideoStatic(QWidget* parent)
    : CVideoStatic(std::make_unique<qdipc::LibVlcBackend>(), parent) {}

CVideoStatic::CVideoStatic(std::unique_ptr<qdipc::VlcBackend> backend, QWidget* parent)
    : QWidget(parent), m_vlc(std::move(backend)) {
    // libvlc draws into the pane's own native window.
    setAttribute(Qt::WA_NativeWindow);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    m_instance = m_vlc->NewInstance(qdipc::PreviewInstanceArguments());

    // One line across the middle of the pane, in a native window of its own
    // so that it can be raised above the one libvlc draws into.
    m_status = new QLabel(this);
    m_status->setTextFormat(Qt::PlainText);  // it repeats a camera's address
    m_status->setAttribute(Qt::WA_NativeWindow);
    m_status->setAlignment(Qt::AlignCenter);
    m_status->setWordWrap(true);
    m_status->setAutoFillBackground(true);
    QPalette palette = m_status->palette();
    palette.setColor(QPalette::Window, Qt::black);
    palette.setColor(QPalette::WindowText, Qt::white);
    m_status->setPalette(palette);
    m_status->hide();
    m_factsTimer = new QTimer(this);
    m_factsTimer->setInterval(kFactsInterval);
    connect(m_factsTimer, &QTimer::timeout, this, &CVideoStatic::RefreshFacts);
    m_snapshotTimer = new QTimer(this);
    m_snapshotTimer->setSingleShot(true);
    m_snapshotTimer->setInterval(kSnapshotLimit);
    connect(m_snapshotTimer, &QTimer::timeout, this, [this] {
        FinishSnapshot(QStringLiteral("Snapshot not saved: no picture was written within %1 s")
                           .arg(kSnapshotLimit.count() / 1000));
    });
    m_vlc->SetSnapshotHandler([this](libvlc_media_player_t* player, const std::string& file) {
        const QString name = QString::fromStdString(file);
        QMetaObject::invokeMethod(
            this, [this, player, name] { OnSnapshotTaken(player, name); }, Qt::QueuedConnection);
    });
    m_vlc->SetStreamEventHandler([this](libvlc_media_player_t* player, qdipc::StreamEvent event) {
        QMetaObject::invokeMethod(
            this, [this, player, event] { OnStreamEvent(player, event); }, Qt::QueuedConnection);
    });
    // libvlc leaves a released player's last picture in the window; paint the
    // pane black again once the player has gone.
    m_vlc->SetPlayerGoneHandler([this] {
        QMetaObject::invokeMethod(
            this, [this] { update(); }, Qt::QueuedConnection);
    });
}

CVideoStatic::~CVideoStatic() {
    m_vlc->SetSnapshotHandler(nullptr);
    m_vlc->SetPlayerGoneHandler(nullptr);
    m_vlc->SetStreamEventHandler(nullptr);
    delete m_prompt;
    if (Shutdown()) {
        m_vlc->ReleaseInstance(m_instance);
    }
    m_instance = nullptr;
}

void CVideoStatic::SetLocation(const std::string& location) {
    m_location = location;
    m_changed = true;
}

int CVideoStatic::Play() {
    if (m_location.empty()) {
        return -1;
    }
    if (HostOf(m_location).empty()) {
        // Not an address: nothing is connected to, no credentials are
        // looked up, and the picture of the camera before goes.
        DropPlayer();
        m_changed = true;
        // "rtsp:///channel1/1": Preview before any row was chosen.
        const bool noHost = m_location.find(":///") != std::string::npos;
        ShowStatus(noHost ? QStringLiteral("No picture: no camera chosen")
                          : QStringLiteral("No picture: the camera reports no valid IP address"));
        return -1;
    }
    if (m_changed) {
        DropPlayer();
        // The reason shown for the player before goes with it.
        ShowStatus(QString());
        m_media = m_vlc->NewMedia(m_instance, m_location);
        m_vlc->AddOption(m_media, qdipc::PreviewCachingOption());
        if (auto known = m_credentials.find(HostOf(m_location)); known != m_credentials.end()) {
            m_vlc->SetCredentials(m_media, known->second.user, known->second.password);
        }
        m_player = m_vlc->NewPlayer(m_media);
        m_vlc->SetWindow(m_player, winId());
        m_vlc->ReleaseMedia(m_media);
        m_media = nullptr;
        m_changed = false;
        m_playersStopped = false;
        if (m_player) {
            m_factsTimer->start();
        }
    }
    return m_vlc->StartPlayback(m_player);
}

bool CVideoStatic::Shutdown() {
    // The window is closing: a snapshot still on its way is dropped quietly
    // (no box while the window goes).
    m_snapshotPath.clear();
    m_snapshotPlayer = nullptr;
    m_snapshotTimer->stop();
    if (m_player) {
        DropPlayer();
        m_changed = true;
    }
    if (!m_playersStopped) {
        const auto limit = m_shutdownWaitRanOut ? std::chrono::milliseconds(0) : kShutdownLimit;
        m_playersStopped = m_vlc->WaitForReleases(limit);
        m_shutdownWaitRanOut = !m_playersStopped;
        update();
    }
    return m_playersStopped;
}

void CVideoStatic::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
}

void CVideoStatic::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int lineHeight = m_status->fontMetrics().height() * 2 + 8;
    m_status->setGeometry(0, (height() - lineHeight) / 2, width(), lineHeight);
}

QString CVideoStatic::StatusText() const {
    return m_status->isHidden() ? QString() : m_status->text();
}

int CVideoStatic::PlayDeviceStream(const std::string& location, const std::string& rowAddress) {
    const auto address = qdipc::ParseIpv4Strict(rowAddress);
    std::string reason = "the camera reports no valid IP address";
    if (!address || !qdipc::IsStreamUriOf(location, *address, &reason)) {
        if (m_player) {
            m_vlc->ReleasePlayer(m_player);
            m_player = nullptr;
        }
        m_changed = true;
        ShowStatus(QStringLiteral("No picture: ") + QString::fromStdString(reason));
        return -1;
    }
    SetLocation(location);
    return Play();
}

std::optional<std::pair<std::string, std::string>> CVideoStatic::StoredLogin(
    const std::string& host) const {
    const auto known = m_credentials.find(host);
    if (known == m_credentials.end()) {
        return std::nullopt;
    }
    return std::make_pair(known->second.user, known->second.password);
}

void CVideoStatic::StoreLogin(const std::string& host, const std::string& user,
                              const std::string& password) {
    if (qdipc::ParseIpv4Strict(host)) {
        m_credentials[host] = {user, password};
    }
}

void CVideoStatic::ShowStatus(const QString& text) {
    m_status->setText(text);
    m_status->setVisible(!text.isEmpty());
    if (!text.isEmpty()) {
        m_status->raise();
    }
}

void CVideoStatic::OnStreamEvent(libvlc_media_player_t* player, qdipc::StreamEvent event) {
    if (player == nullptr || player != m_player) {
        return;  // a player released since
    }
    m_pictureShown = event == qdipc::StreamEvent::Picture;
    ShowStatus(ReasonText(event, m_location));
    if (event == qdipc::StreamEvent::Unauthorized) {
        AskForCredentials(HostOf(m_location));
    }
}

void CVideoStatic::AskForCredentials(const std::string& host) {
    // host is the dotted quad the player connected to (HostOf); the
    // credentials are kept for it and go to it only.
    if (m_prompt || host.empty()) {
        return;
    }
    auto known = m_credentials.find(host);
    m_prompt =
        new CCredentialsDlg(host, known != m_credentials.end() ? known->second.user : "", window());
    CCredentialsDlg* prompt = m_prompt;
    connect(prompt, &QDialog::finished, prompt, &QObject::deleteLater);
    connect(prompt, &QDialog::accepted, this, [this, prompt, host] {
        m_credentials[host] = {prompt->User(), prompt->Password()};
        // Open the camera again with them, unless another one is playing now.
        if (HostOf(m_location) == host) {
            m_changed = true;
            Play();
        }
    });
    prompt->setWindowModality(Qt::ApplicationModal);
    prompt->show();
}

void CVideoStatic::DropPlayer() {
    if (m_player) {
        m_vlc->ReleasePlayer(m_player);
        m_player = nullptr;
    }
    m_pictureShown = false;
    m_meter.Reset();
    m_factsTimer->stop();
    setToolTip(QString());
    if (!m_snapshotPath.isEmpty()) {
        FinishSnapshot(QStringLiteral("Snapshot not saved: the preview stopped first"));
    }
}

void CVideoStatic::RefreshFacts() {
    if (!m_player) {
        return;
    }
    if (const auto sample = m_vlc->ReadStats(m_player)) {
        m_meter.Add(*sample);
    }
    setToolTip(qdipc::PlainToolTip(StreamInfoText()));
}

QString CVideoStatic::StreamInfoText() const {
    if (!m_player) {
        return QString::fromStdString(
            qdipc::NoPictureYetText("nothing plays in the preview; choose a camera and press "
                                    "Preview"));
    }
    std::string text = qdipc::EscapeControls(m_location) + "\n";
    if (m_pictureShown) {
        return QString::fromStdString(text + qdipc::FormatStreamFacts(m_meter.Facts()));
    }
    // Why: the pane's own line without its "No picture: ", or the wait.
    std::string why = StatusText().toStdString();
    if (why.starts_with("No picture: ")) {
        why.erase(0, 12);
    } else if (why.empty()) {
        why = "waiting for the stream's first picture";
    } else {
        why[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(why[0])));
    }
    return QString::fromStdString(text + qdipc::NoPictureYetText(why));
}

QString CVideoStatic::SaveSnapshot(const QString& path) {
    if (!m_snapshotPath.isEmpty()) {
        return QStringLiteral("A snapshot is still being taken; try again in a moment");
    }
    if (!m_player || !m_pictureShown) {
        const QString info = StreamInfoText();
        // The "No picture yet: ..." line alone.
        return info.mid(info.lastIndexOf(QLatin1Char('\n')) + 1);
    }
    if (m_vlc->TakeSnapshot(m_player, path.toStdString()) != 0) {
        return QString::fromStdString(
            qdipc::NoPictureYetText("the stream has no picture to keep at the moment"));
    }
    m_snapshotPath = path;
    m_snapshotPlayer = m_player;
    m_snapshotTimer->start();
    return {};
}

void CVideoStatic::OnSnapshotTaken(libvlc_media_player_t* player, const QString& file) {
    if (m_snapshotPath.isEmpty() || player != m_snapshotPlayer) {
        return;  // not the one asked for
    }
    // The library names the path it was given, or nothing when the player
    // had no picture to write.
    FinishSnapshot(file.isEmpty() ? QString::fromStdString(qdipc::NoPictureYetText(
                                        "the stream has no picture to keep at the moment"))
                                  : QString());
}

void CVideoStatic::FinishSnapshot(const QString& failure) {
    const QString path = m_snapshotPath;
    m_snapshotPath.clear();
    m_snapshotPlayer = nullptr;
    m_snapshotTimer->stop();
    if (path.isEmpty()) {
        return;
    }
    if (failure.isEmpty()) {
        emit snapshotSaved(path);
    } else {
        emit snapshotFailed(failure);
    }
}
