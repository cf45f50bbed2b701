#include "ui/qt/OnvifSearchPump.h"

#include <QMetaObject>
#include <QPointer>
#include <utility>

#include "discovery/OnvifProbe.h"

OnvifSearchPump::OnvifSearchPump(QObject* parent, Found found)
    : QObject(parent), m_found(std::move(found)) {}

OnvifSearchPump::~OnvifSearchPump() {
    Stop();
}

void OnvifSearchPump::Stop() {
    if (m_stop) {
        m_stop->store(true);
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
    m_stop.reset();
}

void OnvifSearchPump::Start(const qdipc::NetworkConfig& config) {
    Stop();
    qdipc::OnvifProbeOptions options;
    options.destination = config.onvifDestination;
    options.interfaces = config.interfaces;
    auto stop = std::make_shared<std::atomic<bool>>(false);
    m_stop = stop;
    QPointer<OnvifSearchPump> self(this);
    m_thread = std::thread([self, stop, options = std::move(options)] {
        qdipc::OnvifProbe probe(options);
        probe.Run(stop.get());
        if (stop->load()) {
            return;
        }
        std::vector<qdipc::OnvifDevice> devices = probe.Devices().Devices();
        // Handed to the UI thread; a pump that has gone, or a probe that was
        // ended meanwhile, hands nothing over.
        QMetaObject::invokeMethod(
            self.data(),
            [self, stop, devices = std::move(devices)] {
                if (self && !stop->load()) {
                    self->m_found(devices);
                }
            },
            Qt::QueuedConnection);
    });
}
