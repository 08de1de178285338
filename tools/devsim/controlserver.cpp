#include "controlserver.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>
#include <memory>

namespace {

// A request is a few device files; anything longer is not one.
constexpr qint64 maxRequestBytes = 64 * 1024 * 1024;
constexpr int keptOutputBytes = 4096;

void send(QTcpSocket *client, const QJsonObject &event)
{
    client->write(QJsonDocument(event).toJson(QJsonDocument::Compact) + '\n');
}

void refuse(QTcpSocket *client, const QString &why)
{
    send(
        client, { { QStringLiteral("event"), QStringLiteral("error") }, { QStringLiteral("message"), why } });
    client->disconnectFromHost();
}

} // namespace

ControlServer::ControlServer(QObject *parent) : QObject(parent), m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &ControlServer::accept);
}

bool ControlServer::start(const QString &interfaceName, quint16 port, QString *error)
{
    if (!m_files.isValid()) {
        *error = QStringLiteral("no folder for device files: ") + m_files.errorString();
        return false;
    }
    QHostAddress address;
    const QList<QNetworkAddressEntry> entries
        = QNetworkInterface::interfaceFromName(interfaceName).addressEntries();
    for (const QNetworkAddressEntry &entry : entries) {
        if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol) {
            address = entry.ip();
            break;
        }
    }
    if (address.isNull()) {
        *error = interfaceName + QStringLiteral(" has no IPv4 address");
        return false;
    }
    if (!m_server->listen(address, port)) {
        *error = QStringLiteral("cannot listen on %1:%2: %3")
                     .arg(address.toString())
                     .arg(port)
                     .arg(m_server->errorString());
        return false;
    }
    return true;
}

void ControlServer::accept()
{
    while (QTcpSocket *client = m_server->nextPendingConnection()) {
        connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
        serve(client);
    }
}

void ControlServer::serve(QTcpSocket *client)
{
    // Parented to the connection: a client that goes away takes its simulator with it.
    auto *simulator = new QProcess(client);
    // What the simulator said besides its datagrams, for the client to show when it fails.
    const auto output = std::make_shared<QByteArray>();
    connect(client, &QTcpSocket::disconnected, simulator, [simulator] {
        simulator->disconnect();
        simulator->kill();
        simulator->waitForFinished(1000);
    });

    connect(simulator, &QProcess::readyReadStandardError, client, [simulator, output] {
        const QByteArray bytes = simulator->readAllStandardError();
        // Also shown where the control server's own complaints go: the test's log.
        std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
        *output = (*output + bytes).right(keptOutputBytes);
    });
    connect(simulator, &QProcess::readyReadStandardOutput, client, [simulator, client, output] {
        while (simulator->canReadLine()) {
            const QByteArray line = simulator->readLine().trimmed();
            if (line == "ready") {
                send(client, { { QStringLiteral("event"), QStringLiteral("ready") } });
                continue;
            }
            const QJsonObject datagram = QJsonDocument::fromJson(line).object();
            if (datagram.isEmpty())
                *output = (*output + line + '\n').right(keptOutputBytes);
            else
                send(client,
                    { { QStringLiteral("event"), QStringLiteral("datagram") },
                        { QStringLiteral("datagram"), datagram } });
        }
    });
    connect(simulator, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), client,
        [client, output](int code, QProcess::ExitStatus status) {
            send(client,
                { { QStringLiteral("event"), QStringLiteral("exit") }, { QStringLiteral("code"), code },
                    { QStringLiteral("crashed"), status == QProcess::CrashExit },
                    { QStringLiteral("output"), QString::fromLocal8Bit(*output) } });
        });
    connect(simulator, &QProcess::errorOccurred, client, [simulator, client](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            refuse(client, QStringLiteral("cannot start the simulator: ") + simulator->errorString());
    });

    connect(client, &QTcpSocket::readyRead, simulator, [this, client, simulator] {
        while (client->canReadLine()) {
            const QJsonDocument document = QJsonDocument::fromJson(client->readLine());
            const QJsonObject request = document.object();
            if (request.value(QLatin1String("stop")).toBool()) {
                if (simulator->state() == QProcess::NotRunning) {
                    refuse(client, QStringLiteral("no simulator runs on this connection"));
                    return;
                }
                simulator->terminate();
                continue;
            }
            const QJsonValue arguments = request.value(QLatin1String("arguments"));
            if (!arguments.isArray()) {
                refuse(client, QStringLiteral("not a request: ") + QString::fromUtf8(document.toJson()));
                return;
            }
            // start() names the program even when it fails to run.
            if (!simulator->program().isEmpty()) {
                refuse(client, QStringLiteral("one simulator per connection"));
                return;
            }
            QStringList command;
            // A file travels as {"file": base64}: the client's paths mean nothing here.
            for (const QJsonValue &argument : arguments.toArray()) {
                if (argument.isString()) {
                    command << argument.toString();
                    continue;
                }
                const QJsonValue contents = argument.toObject().value(QLatin1String("file"));
                const auto decoded = QByteArray::fromBase64Encoding(contents.toString().toLatin1(),
                    QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
                if (!contents.isString() || !decoded) {
                    refuse(client, QStringLiteral("an argument is neither text nor a file"));
                    return;
                }
                QFile file(m_files.filePath(QString::number(++m_fileCount)));
                if (!file.open(QIODevice::WriteOnly)
                    || file.write(decoded.decoded) != decoded.decoded.size()) {
                    refuse(client, QStringLiteral("cannot keep a device file: ") + file.errorString());
                    return;
                }
                command << file.fileName();
            }
            simulator->start(QCoreApplication::applicationFilePath(),
                command << QStringLiteral("--record") << QStringLiteral("/dev/stdout"));
        }
        if (client->bytesAvailable() > maxRequestBytes)
            refuse(client, QStringLiteral("request too long"));
    });
    client->setReadBufferSize(0);
}
