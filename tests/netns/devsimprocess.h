#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class QTcpSocket;

// One datagram as the simulator received it.
struct RecordedDatagram {
    double timeMs = 0;
    QHostAddress source;
    quint16 port = 0;
    QHostAddress destination;
    int ttl = -1;
    QByteArray bytes;
};

// A varnitt-devsim on the device side of the test LAN, started for this test by the
// simulator control server that tests/sandbox.sh runs there (VARNITT_DEVSIM_CONTROL),
// which also passes on every datagram the simulator receives.
class DevSimProcess : public QObject {
    Q_OBJECT

public:
    explicit DevSimProcess(QObject *parent = nullptr);
    ~DevSimProcess() override;

    // True inside a test LAN with a control server; a test cannot do its work elsewhere.
    static bool harnessPresent();

    // Starts the simulator with these arguments (and --interface with the LAN's device
    // end unless they name one) and waits for "ready". The files that --devices and
    // --raw-reply name are sent along, as the control server cannot read them here.
    bool start(const QStringList &arguments = {}, int timeoutMs = 5000);
    // Sends SIGTERM and waits; true when the simulator exited with code 0.
    bool stop(int timeoutMs = 3000);
    bool isRunning() const;
    QString errorString() const
    {
        return m_error;
    }

    QList<RecordedDatagram> recorded() const;
    // Runs the event loop until at least count datagrams are recorded.
    bool waitForRecorded(int count, int timeoutMs = 3000) const;

private:
    // Reads what the control server sent; waits up to timeoutMs for something first.
    void poll(int timeoutMs) const;

    QTcpSocket *m_socket;
    mutable QList<RecordedDatagram> m_recorded;
    mutable bool m_ready = false;
    mutable bool m_exited = false;
    mutable bool m_exitedCleanly = false;
    mutable QString m_error;
};
