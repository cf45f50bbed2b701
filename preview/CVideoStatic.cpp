#include "preview/CVideoStatic.h"

#include <vlc/vlc.h>

#include <QPainter>

CVideoStatic::CVideoStatic(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_NativeWindow);
    setAttribute(Qt::WA_OpaquePaintEvent);
    const char* const args[] = {"--ignore-config"};
    m_instance = libvlc_new(1, args);
}

CVideoStatic::~CVideoStatic() {
    Shutdown();
    if (m_instance)
        libvlc_release(m_instance);
}

void CVideoStatic::SetLocation(const std::string& location) {
    m_location = location;
    m_changed = true;
}

int CVideoStatic::Play() {
    if (m_location.empty())
        return -1;
    if (!m_instance)
        return -1;
    if (m_changed) {
        if (m_player)
            libvlc_media_player_release(m_player);
        m_player = nullptr;
        libvlc_media_t* media = libvlc_media_new_location(m_instance, m_location.c_str());
        if (!media)
            return -1;
        libvlc_media_add_option(media, ":network-caching=300");
        m_player = libvlc_media_player_new_from_media(media);
        libvlc_media_release(media);
        if (!m_player)
            return -1;
        libvlc_media_player_set_xwindow(m_player, static_cast<uint32_t>(winId()));
        m_changed = false;
    }
    return libvlc_media_player_play(m_player);
}

void CVideoStatic::Shutdown() {
    if (m_player) {
        libvlc_media_player_release(m_player);
        m_player = nullptr;
    }
}

void CVideoStatic::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
}
