#pragma once

#include <QObject>
#include <QString>
#include <QTemporaryDir>

class QTcpServer;
class QTcpSocket;

// Starts simulators on this side of the test LAN for programs that cannot start one here
// themselves (a Windows test under Wine, say). One TCP connection per simulator: the
// client's first line asks for one, and the simulator ends when the connection does.
class ControlServer : public QObject {
    Q_OBJECT

public:
    explicit ControlServer(QObject *parent = nullptr);

    // Listens on the first IPv4 address of the interface; false with a reason on error.
    bool start(const QString &interfaceName, quint16 port, QString *error);

private:
    void accept();
    void serve(QTcpSocket *client);

    QTcpServer *m_server;
    // Device files as the clients sent them; simulators read them from here.
    QTemporaryDir m_files;
    int m_fileCount = 0;
};
