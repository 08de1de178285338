#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QStringList>

#include <memory>

class QProcess;
class QTemporaryDir;

// One datagram as the simulator received it.
struct RecordedDatagram {
    double timeMs = 0;
    QHostAddress source;
    quint16 port = 0;
    QHostAddress destination;
    int ttl = -1;
    QByteArray bytes;
};

// Runs varnitt-devsim on the device side of the LAN that tests/netns/lan.sh built,
// recording everything it receives into a file of its own. A Windows test program
// under Wine cannot start the Linux simulator: tests/windows/devsim-broker.py starts
// it on the program's behalf, asked through files in VARNITT_BROKER_DIR.
class DevSimProcess : public QObject {
    Q_OBJECT

public:
    explicit DevSimProcess(QObject *parent = nullptr);
    ~DevSimProcess() override;

    // True when running under lan.sh (under Wine: with a live broker); a test cannot do
    // its work elsewhere.
    static bool harnessPresent();
    // The device side's network namespace file.
    static QString lanNamespace();

    // Starts the simulator with these arguments plus --record (and --interface with the
    // LAN's device end unless they name one) and waits for "ready". The simulator's
    // folder is made by the first start, so a test object made outside the harness
    // leaves nothing behind.
    bool start(const QStringList &arguments = {}, int timeoutMs = 5000);
    // Sends SIGTERM and waits; true when the simulator exited with code 0.
    bool stop(int timeoutMs = 3000);
    bool isRunning() const;
    QString errorString() const
    {
        return m_error;
    }

    QString recordPath() const;
    QList<RecordedDatagram> recorded() const;
    // Runs the event loop until at least count datagrams are recorded.
    bool waitForRecorded(int count, int timeoutMs = 3000) const;

private:
#ifdef Q_OS_WIN
    bool startThroughBroker(const QStringList &command, int timeoutMs);
    // The broker's file of this name in the simulator's folder, read whole; null if absent.
    QByteArray brokerFile(const char *name) const;
    void askBroker(const char *request);
    // Removes a request the broker has not taken yet; true when nothing runs then.
    bool withdrawRequest();

    bool m_started = false;
#else
    QProcess *m_process;
#endif
    std::unique_ptr<QTemporaryDir> m_directory;
    QString m_error;
};
