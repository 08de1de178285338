#include "controlserver.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <memory>

namespace {

// A request is a few device files; anything longer is not one.
constexpr qint64 maxRequestBytes = 64 * 1024 * 1024;
constexpr int keptOutputBytes = 4096;

enum class Value { None, Text, File };

// The simulator options a client may give. A file option takes the file's contents, never
// a path; --record is not here, as the server records to its own pipe. An option that is
// missing, or that the simulator gains later, is refused until it is added here.
const struct {
    QLatin1String name;
    Value value;
} clientOptions[] = {
    { QLatin1String("interface"), Value::Text },
    { QLatin1String("devices"), Value::File },
    { QLatin1String("count"), Value::Text },
    { QLatin1String("drop-percent"), Value::Text },
    { QLatin1String("duplicate"), Value::None },
    { QLatin1String("malformed"), Value::None },
    { QLatin1String("incomplete"), Value::Text },
    { QLatin1String("missing-member"), Value::Text },
    { QLatin1String("first-answer-delay"), Value::Text },
    { QLatin1String("reply-delay"), Value::Text },
    { QLatin1String("raw-reply"), Value::File },
    { QLatin1String("nul-terminate"), Value::Text },
    { QLatin1String("nul-junk"), Value::Text },
    { QLatin1String("codec"), Value::Text },
    { QLatin1String("seed"), Value::Text },
    { QLatin1String("ignore-config"), Value::None },
    { QLatin1String("ignore-config-mac"), Value::Text },
    { QLatin1String("drop-config-reply"), Value::Text },
    { QLatin1String("config-drop-percent"), Value::Text },
    { QLatin1String("verbose"), Value::None },
};

// An argument as the client wrote it, cut short: a misplaced file can be megabytes.
QString quoted(const QJsonValue &value)
{
    const QString text = value.isString()
        ? value.toString()
        : QString::fromUtf8(QJsonDocument(QJsonArray { value }).toJson(QJsonDocument::Compact));
    return text.left(100);
}

// The simulator's command line for a client's arguments, with the files it sent written to
// folder; empty, with the reason, when the request is refused. Each option goes out as one
// "--name=value" word, so no value can pass for an option of its own.
QStringList simulatorArguments(const QJsonArray &arguments, const QTemporaryDir &folder, QString *error)
{
    QStringList command;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString argument = arguments.at(i).toString();
        if (!arguments.at(i).isString() || !argument.startsWith(QLatin1String("--"))) {
            *error = QStringLiteral("not an option: ") + quoted(arguments.at(i));
            return {};
        }
        const int equals = argument.indexOf(QLatin1Char('='));
        const QString option = argument.left(equals);
        const QStringView name = QStringView(option).mid(2);
        const auto known = std::find_if(std::begin(clientOptions), std::end(clientOptions),
            [name](const auto &candidate) { return name == candidate.name; });
        if (known == std::end(clientOptions)) {
            *error = QStringLiteral("not an option a client may give: ") + option;
            return {};
        }
        if (known->value == Value::None) {
            if (equals >= 0) {
                *error = option + QStringLiteral(" takes no value");
                return {};
            }
            command << option;
            continue;
        }
        const bool attached = equals >= 0;
        if (!attached && i + 1 == arguments.size()) {
            *error = option + QStringLiteral(" needs a value");
            return {};
        }
        const QJsonValue value = attached ? QJsonValue(argument.mid(equals + 1)) : arguments.at(++i);
        if (known->value == Value::Text) {
            if (!value.isString()) {
                *error = option + QStringLiteral(" needs its value as text");
                return {};
            }
            command << option + QLatin1Char('=') + value.toString();
            continue;
        }
        if (value.isString()) {
            *error = option + QStringLiteral(" takes a file's contents, {\"file\": base64}, not a path");
            return {};
        }
        const QJsonValue contents = value.toObject().value(QLatin1String("file"));
        const auto decoded = QByteArray::fromBase64Encoding(contents.toString().toLatin1(),
            QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
        if (!contents.isString() || !decoded) {
            *error = QStringLiteral("an argument is neither text nor a file");
            return {};
        }
        QFile file(folder.filePath(QString::number(i)));
        if (!folder.isValid() || !file.open(QIODevice::WriteOnly)
            || file.write(decoded.decoded) != decoded.decoded.size()) {
            *error = QStringLiteral("cannot keep a device file: ") + file.errorString();
            return {};
        }
        command << option + QLatin1Char('=') + file.fileName();
    }
    return command;
}

void send(QTcpSocket *client, const QJsonObject &event)
{
    client->write(QJsonDocument(event).toJson(QJsonDocument::Compact) + '\n');
}

// The connection's files go first: a client that heard the answer finds them gone.
void refuse(QTcpSocket *client, QTemporaryDir &files, const QString &why)
{
    files.remove();
    send(
        client, { { QStringLiteral("event"), QStringLiteral("error") }, { QStringLiteral("message"), why } });
    client->disconnectFromHost();
}

} // namespace

ControlServer::ControlServer(const QString &simulator, QObject *parent)
    : QObject(parent),
      m_simulator(simulator),
      m_server(new QTcpServer(this)),
      m_files(QDir::temp().filePath(QStringLiteral("varnitt-devsim-control-XXXXXX")))
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

QHostAddress ControlServer::address() const
{
    return m_server->serverAddress();
}

quint16 ControlServer::port() const
{
    return m_server->serverPort();
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
    // Its device files, kept only while its simulator runs and its client stays.
    const auto files = std::make_shared<QTemporaryDir>(m_files.filePath(QStringLiteral("XXXXXX")));
    connect(client, &QTcpSocket::disconnected, simulator, [simulator, files] {
        simulator->disconnect();
        simulator->kill();
        simulator->waitForFinished(1000);
        files->remove();
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
        [client, output, files](int code, QProcess::ExitStatus status) {
            files->remove();
            send(client,
                { { QStringLiteral("event"), QStringLiteral("exit") }, { QStringLiteral("code"), code },
                    { QStringLiteral("crashed"), status == QProcess::CrashExit },
                    { QStringLiteral("output"), QString::fromLocal8Bit(*output) } });
        });
    connect(simulator, &QProcess::errorOccurred, client,
        [simulator, client, files](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart)
                refuse(client, *files,
                    QStringLiteral("cannot start the simulator: ") + simulator->errorString());
        });

    connect(client, &QTcpSocket::readyRead, simulator, [this, client, simulator, files] {
        while (client->canReadLine()) {
            const QJsonDocument document = QJsonDocument::fromJson(client->readLine());
            const QJsonObject request = document.object();
            if (request.value(QLatin1String("stop")).toBool()) {
                if (simulator->state() == QProcess::NotRunning) {
                    refuse(client, *files, QStringLiteral("no simulator runs on this connection"));
                    return;
                }
                simulator->terminate();
                continue;
            }
            const QJsonValue arguments = request.value(QLatin1String("arguments"));
            if (!arguments.isArray()) {
                refuse(
                    client, *files, QStringLiteral("not a request: ") + QString::fromUtf8(document.toJson()));
                return;
            }
            // start() names the program even when it fails to run.
            if (!simulator->program().isEmpty()) {
                refuse(client, *files, QStringLiteral("one simulator per connection"));
                return;
            }
            QString error;
            const QStringList command = simulatorArguments(arguments.toArray(), *files, &error);
            if (!error.isEmpty()) {
                refuse(client, *files, error);
                return;
            }
            simulator->start(m_simulator, command + QStringList { QStringLiteral("--record=/dev/stdout") });
        }
        if (client->bytesAvailable() > maxRequestBytes)
            refuse(client, *files, QStringLiteral("request too long"));
    });
    client->setReadBufferSize(0);
}
