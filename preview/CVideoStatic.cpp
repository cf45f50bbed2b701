#include "preview/CVideoStatic.h"

#include <QPainter>

#include "preview/LibVlcBackend.h"

CVideoStatic::CVideoStatic(QWidget* parent)
    : CVideoStatic(std::make_unique<qdipc::LibVlcBackend>(), parent) {}

CVideoStatic::CVideoStatic(std::unique_ptr<qdipc::VlcBackend> backend, QWidget* parent)
    : QWidget(parent), m_vlc(std::move(backend)) {
    // libvlc draws into the pane's own native window.
    setAttribute(Qt::WA_NativeWindow);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    m_instance = m_vlc->NewInstance({"--ignore-config"});
    // libvlc leaves a released player's last picture in the window; paint the
    // pane black again once the player has gone.
    m_vlc->SetPlayerGoneHandler([this] {
        QMetaObject::invokeMethod(
            this, [this] { update(); }, Qt::QueuedConnection);
    });
}

CVideoStatic::~CVideoStatic() {
    m_vlc->SetPlayerGoneHandler(nullptr);
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
    if (m_changed) {
        if (m_player) {
            m_vlc->ReleasePlayer(m_player);
            m_player = nullptr;
        }
        m_media = m_vlc->NewMedia(m_instance, m_location);
        m_vlc->AddOption(m_media, ":network-caching=300");
        m_player = m_vlc->NewPlayer(m_media);
        m_vlc->SetWindow(m_player, winId());
        m_vlc->ReleaseMedia(m_media);
        m_media = nullptr;
        m_changed = false;
        m_playersStopped = false;
    }
    return m_vlc->StartPlayback(m_player);
}

bool CVideoStatic::Shutdown() {
    if (m_player) {
        m_vlc->ReleasePlayer(m_player);
        m_player = nullptr;
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
