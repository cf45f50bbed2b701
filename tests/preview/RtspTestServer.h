#pragma once
// Runs rtsp_test_server (GStreamer's RTSP server with an H.264 test pattern)
// for one test, on a loopback address and port 554, and stops it again.

#include <QProcess>
#include <QString>

namespace qdipc::test {

class RtspTestServer {
public:
    ~RtspTestServer();

    // Starts the server and waits until it listens. False with a reason in
    // Error() when it cannot run; CannotBind() tells whether the reason is
    // that the address could not be bound (port 554 needs root).
    bool Start(const QString& address, const QString& protocols, int timeoutSeconds = 60,
               const QStringList& moreArguments = {});
    // The server's next line of output (e.g. "flip white 123456"), or an empty
    // text when none came within the time.
    QByteArray ReadLine(int milliseconds);
    void Stop();
    QString Error() const { return m_error; }
    bool CannotBind() const { return m_cannotBind; }
    // The location the tool would build for a camera at this address.
    QString Location() const;

    // The server program, or an empty text when it was not built.
    static QString Program();

private:
    QProcess m_process;
    QString m_address;
    QString m_error;
    bool m_cannotBind = false;
};

}  // namespace qdipc::test
