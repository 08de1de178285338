#pragma once

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTemporaryDir>

class QTcpServer;
class QTcpSocket;

// Starts simulators on this side of the test LAN for programs that cannot start one here
// themselves (a Windows test under Wine, say). One TCP connection per simulator: the
// client's first line asks for one, and the simulator ends when the connection does.
// Nobody logs in, so a client names only options that read and write nothing: device
// files come as contents and live in this server's own folder.
class ControlServer : public QObject {
    Q_OBJECT

public:
    explicit ControlServer(const QString &simulator, QObject *parent = nullptr);

    // Listens on the first IPv4 address of the interface; false with a reason on error.
    bool start(const QString &interfaceName, quint16 port, QString *error);
    QHostAddress address() const;
    quint16 port() const;

private:
    void accept();
    void serve(QTcpSocket *client);

    QString m_simulator;
    QTcpServer *m_server;
    // One folder per connection in here, for the device files its client sent.
    QTemporaryDir m_files;
};
