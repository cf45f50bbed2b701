#pragma once
// The live-preview pane: a black native child window into which libvlc draws
// the camera's stream. Public surface used by the main window; the preview
// folder owns the implementation.

#include <QWidget>
#include <memory>
#include <string>

struct libvlc_instance_t;
struct libvlc_media_player_t;

class CVideoStatic : public QWidget {
    Q_OBJECT
public:
    explicit CVideoStatic(QWidget* parent = nullptr);
    ~CVideoStatic() override;

    // Stores the stream location and marks it changed.
    void SetLocation(const std::string& location);
    // -1 when the location is empty; otherwise the result of starting playback.
    int Play();
    // Stops and releases the player without blocking the caller for long;
    // the main window calls it before the window and the application go away.
    void Shutdown();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_changed = true;
    libvlc_instance_t* m_instance = nullptr;
    libvlc_media_player_t* m_player = nullptr;
    std::string m_location;
};
