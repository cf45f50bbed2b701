#include "RtspTestServer.h"

#include <QDeadlineTimer>

namespace qdipc::test {

RtspTestServer::~RtspTestServer() {
    Stop();
}

QString RtspTestServer::Program() {
    return QStringLiteral(QDIPC_RTSP_TEST_SERVER);
}

bool RtspTestServer::Start(const QString& address, const QString& protocols, int timeoutSeconds,
                           const QStringList& moreArguments) {
    m_address = address;
    if (Program().isEmpty()) {
        m_error = QStringLiteral("rtsp_test_server was not built (no gstreamer-rtsp-server-1.0)");
        return false;
    }
    m_process.setProgram(Program());
    m_process.setArguments(
        QStringList{QStringLiteral("--address"), address, QStringLiteral("--port"),
                    QStringLiteral("554"), QStringLiteral("--path"), QStringLiteral("/channel1/1"),
                    QStringLiteral("--protocols"), protocols, QStringLiteral("--timeout"),
                    QString::number(timeoutSeconds)} +
        moreArguments);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start();
    if (!m_process.waitForStarted(10000)) {
        m_error = QStringLiteral("rtsp_test_server did not start: ") + m_process.errorString();
        return false;
    }
    const QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired()) {
        if (m_process.canReadLine()) {
            const QByteArray line = m_process.readLine();
            if (line.startsWith("ready ")) {
                return true;
            }
            continue;
        }
        if (m_process.state() == QProcess::NotRunning) {
            break;
        }
        m_process.waitForReadyRead(100);
    }
    m_process.waitForFinished(1000);
    m_cannotBind = m_process.state() == QProcess::NotRunning &&
                   m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 3;
    m_error = m_cannotBind ? QStringLiteral("cannot listen on %1:554 (needs root)").arg(address)
                           : QStringLiteral("rtsp_test_server did not become ready");
    Stop();
    return false;
}

QByteArray RtspTestServer::ReadLine(int milliseconds) {
    const QDeadlineTimer deadline(milliseconds);
    while (!m_process.canReadLine()) {
        if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning) {
            return {};
        }
        m_process.waitForReadyRead(10);
    }
    return m_process.readLine().trimmed();
}

void RtspTestServer::Stop() {
    if (m_process.state() == QProcess::NotRunning) {
        return;
    }
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString RtspTestServer::Location() const {
    return QStringLiteral("rtsp://") + m_address + QStringLiteral("/channel1/1");
}

}  // namespace qdipc::test
