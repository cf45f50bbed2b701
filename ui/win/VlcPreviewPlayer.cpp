#include "ui/win/VlcPreviewPlayer.h"

#include <mutex>
#include <utility>

#include "preview/VlcRuntimePreview.h"

namespace qdipc::win {
namespace {

class VlcPreviewPlayer final : public PreviewPlayer {
public:
    VlcPreviewPlayer(const VlcFunctions& functions, VlcRuntimePreview::ReachProbe reach)
        : m_preview(functions) {
        if (reach) {
            m_preview.SetReachProbe(std::move(reach));
        }
        // One handler for the player's life: it hands the answer to the
        // request waiting, if any.
        m_preview.SetSnapshotHandler([this](const std::string& file) {
            SnapshotDone done;
            {
                const std::lock_guard<std::mutex> lock(m_mutex);
                done = std::exchange(m_snapshotDone, nullptr);
            }
            if (done) {
                done(file);
            }
        });
    }
    ~VlcPreviewPlayer() override { Stop(); }

    std::string Play(HWND pane, const std::string& location, const OnvifLogin* login) override {
        // A snapshot asked of the player replaced is not written.
        SnapshotDone done;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            done = std::exchange(m_snapshotDone, nullptr);
        }
        if (done) {
            done({});
        }
        return login != nullptr
                   ? m_preview.PlayLocation(location, pane, &login->user, &login->password)
                   : m_preview.PlayLocation(location, pane);
    }
    void SetEventSink(EventSink sink) override {
        if (!m_closed) {
            m_preview.SetEventSink(std::move(sink));
        }
    }
    std::optional<std::string> TakeEvent(unsigned player, StreamEvent event) override {
        return m_preview.TakeEvent(player, event);
    }
    void Stop() override {
        // Once: the window calls it as it is destroyed and again as its
        // object goes. Clears the handler first: no answer after this.
        if (!m_closed) {
            m_closed = true;
            m_preview.Close(kPreviewCloseLimit);
        }
    }
    void Sample() override {
        m_preview.Sample(std::chrono::steady_clock::now().time_since_epoch());
    }
    std::string StreamInfoText() override { return m_preview.StreamInfoText(); }
    std::string SaveSnapshot(const std::string& path, SnapshotDone done) override {
        {
            // The window refuses a second request while one waits; one it
            // gave up on is answered no more.
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_snapshotDone = std::move(done);
        }
        std::string reason = m_preview.TakeSnapshot(path);
        if (!reason.empty()) {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_snapshotDone = nullptr;
        }
        return reason;
    }

private:
    std::mutex m_mutex;
    SnapshotDone m_snapshotDone;
    bool m_closed = false;
    VlcRuntimePreview m_preview;  // last: its handler uses the members above
};

}  // namespace

std::shared_ptr<PreviewPlayer> MakePreviewPlayer(const VlcRuntime& runtime,
                                                 VlcRuntimePreview::ReachProbe reach) {
    if (runtime.state == VlcRuntime::State::Loaded) {
        return std::make_shared<VlcPreviewPlayer>(runtime.functions, std::move(reach));
    }
    return std::make_shared<MissingVlcPlayer>(VlcRuntimeReason(runtime));
}

}  // namespace qdipc::win
