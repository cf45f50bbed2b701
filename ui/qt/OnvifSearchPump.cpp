#include "ui/qt/OnvifSearchPump.h"

#include <QMetaObject>
#include <utility>

OnvifSearchPump::OnvifSearchPump(QObject* parent, Found found)
    : QObject(parent), m_found(std::move(found)), m_round([this] {
          // The round's thread; the round ends before the pump goes, and a
          // call still queued then is dropped with the pump.
          QMetaObject::invokeMethod(
              this,
              [this] {
                  if (auto devices = m_round.Take()) {
                      m_found(*devices);
                  }
              },
              Qt::QueuedConnection);
      }) {}

void OnvifSearchPump::Start(const qdipc::NetworkConfig& config) {
    qdipc::OnvifProbeOptions options;
    options.destination = config.onvifDestination;
    options.interfaces = config.interfaces;
    m_round.Start(std::move(options));
}
