#include "devsimprocess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTest>

DevSimProcess::DevSimProcess(QObject *parent) : QObject(parent), m_socket(new QTcpSocket(this)) { }

DevSimProcess::~DevSimProcess()
{
    // The control server ends the simulator with the connection anyway; this lets it go cleanly.
    if (isRunning())
        stop(1000);
    m_socket->abort();
}

bool DevSimProcess::harnessPresent()
{
    return qEnvironmentVariable("VARNITT_DEVSIM_CONTROL").contains(QLatin1Char(':'));
}

bool DevSimProcess::start(const QStringList &arguments, int timeoutMs)
{
    if (isRunning()) {
        m_error = QStringLiteral("already running");
        return false;
    }
    m_socket->abort();
    m_recorded.clear();
    m_ready = m_exited = m_exitedCleanly = false;
    const QString control = qEnvironmentVariable("VARNITT_DEVSIM_CONTROL");
    const int colon = control.lastIndexOf(QLatin1Char(':'));
    const QDeadlineTimer deadline(timeoutMs);
    m_socket->connectToHost(control.left(colon), control.mid(colon + 1).toUShort());
    if (!m_socket->waitForConnected(timeoutMs)) {
        m_error
            = QStringLiteral("no simulator control server at %1: %2").arg(control, m_socket->errorString());
        return false;
    }

    QJsonArray request;
    for (int i = 0; i < arguments.size(); ++i) {
        request.append(arguments.at(i));
        const bool fileOption = arguments.at(i) == QLatin1String("--devices")
            || arguments.at(i) == QLatin1String("--raw-reply");
        if (fileOption && i + 1 < arguments.size()) {
            QFile file(arguments.at(++i));
            if (!file.open(QIODevice::ReadOnly)) {
                m_error = file.fileName() + QStringLiteral(": ") + file.errorString();
                m_socket->abort();
                return false;
            }
            request.append(
                QJsonObject { { QStringLiteral("file"), QString::fromLatin1(file.readAll().toBase64()) } });
        }
    }
    // The simulator answers only where it is told to; the LAN's device end unless a test says otherwise.
    if (!arguments.contains(QLatin1String("--interface")))
        request << QStringLiteral("--interface") << qEnvironmentVariable("VARNITT_LAN_IF");
    m_socket->write(
        QJsonDocument(QJsonObject { { QStringLiteral("arguments"), request } }).toJson(QJsonDocument::Compact)
        + '\n');
    while (!m_ready && !m_exited && m_socket->state() == QAbstractSocket::ConnectedState
        && !deadline.hasExpired())
        poll(static_cast<int>(deadline.remainingTime()));
    if (m_ready)
        return true;
    if (m_error.isEmpty())
        m_error = QStringLiteral("no \"ready\" from the simulator in time");
    m_socket->abort();
    return false;
}

bool DevSimProcess::stop(int timeoutMs)
{
    if (isRunning()) {
        m_socket->write(QByteArrayLiteral("{\"stop\":true}\n"));
        const QDeadlineTimer deadline(timeoutMs);
        while (isRunning() && !deadline.hasExpired())
            poll(static_cast<int>(deadline.remainingTime()));
        if (isRunning()) {
            m_error = QStringLiteral("did not stop on SIGTERM");
            return false;
        }
    }
    return m_exitedCleanly;
}

bool DevSimProcess::isRunning() const
{
    poll(0);
    return m_ready && !m_exited && m_socket->state() == QAbstractSocket::ConnectedState;
}

void DevSimProcess::poll(int timeoutMs) const
{
    if (!m_socket->bytesAvailable() && m_socket->state() == QAbstractSocket::ConnectedState)
        m_socket->waitForReadyRead(timeoutMs);
    while (m_socket->canReadLine()) {
        const QJsonObject event = QJsonDocument::fromJson(m_socket->readLine()).object();
        const QString kind = event.value(QLatin1String("event")).toString();
        if (kind == QLatin1String("ready")) {
            m_ready = true;
        } else if (kind == QLatin1String("datagram")) {
            const QJsonObject line = event.value(QLatin1String("datagram")).toObject();
            RecordedDatagram datagram;
            datagram.timeMs = line.value(QLatin1String("t")).toDouble(-1);
            datagram.source = QHostAddress(line.value(QLatin1String("src")).toString());
            datagram.port = static_cast<quint16>(line.value(QLatin1String("port")).toInt());
            datagram.destination = QHostAddress(line.value(QLatin1String("dst")).toString());
            datagram.ttl = line.value(QLatin1String("ttl")).toInt(-1);
            datagram.bytes = QByteArray::fromBase64(line.value(QLatin1String("bytes")).toString().toLatin1());
            m_recorded.append(datagram);
        } else if (kind == QLatin1String("exit")) {
            m_exited = true;
            m_exitedCleanly = event.value(QLatin1String("code")).toInt(-1) == 0
                && !event.value(QLatin1String("crashed")).toBool();
            if (!m_ready)
                m_error = QStringLiteral("the simulator ended before \"ready\"; it printed: ")
                    + event.value(QLatin1String("output")).toString();
        } else {
            m_error = QStringLiteral("the simulator control server: ")
                + event.value(QLatin1String("message")).toString();
        }
    }
}

QList<RecordedDatagram> DevSimProcess::recorded() const
{
    poll(0);
    return m_recorded;
}

bool DevSimProcess::waitForRecorded(int count, int timeoutMs) const
{
    return QTest::qWaitFor([this, count] { return recorded().size() >= count; }, timeoutMs);
}
