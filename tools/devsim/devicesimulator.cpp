#include "devicesimulator.h"

#include "replyscheduler.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QTextCodec>
#include <QUdpSocket>

#include <cmath>
#include <cstdio>

namespace {

const QHostAddress discoveryGroup(QStringLiteral("239.255.255.250"));
constexpr quint16 discoveryPort = 65176;
constexpr int defaultDelayMax = 500;

// Datagrams a device should never send; each of them must be dropped by a sound receiver.
QVector<QByteArray> malformedDatagrams()
{
    QJsonObject posingAsReply = DeviceTable::generatedDevice(0xffffff - 1);
    posingAsReply.insert(QStringLiteral("request"), true);
    posingAsReply.insert(QStringLiteral("command"), QStringLiteral("search"));
    QJsonObject withoutMac = DeviceTable::generatedDevice(0xffffff - 2);
    withoutMac.insert(QStringLiteral("request"), false);
    withoutMac.insert(QStringLiteral("command"), QStringLiteral("search"));
    withoutMac.remove(QStringLiteral("macaddr"));
    return {
        QByteArrayLiteral(R"({"request":false,"command":"search","vendor_devtype_name":"Bro)"),
        QByteArrayLiteral(R"([{"request":false,"command":"search"}])"),
        QByteArrayLiteral(R"("search")"),
        QByteArray(),
        QByteArrayLiteral(R"({"request":false})"),
        QByteArrayLiteral(R"({"command":"search","request":false})"),
        QByteArray::fromHex("fffe007b22ff"),
        QJsonDocument(posingAsReply).toJson(QJsonDocument::Compact),
        QJsonDocument(withoutMac).toJson(QJsonDocument::Compact),
    };
}

int delayMaxOf(const QJsonObject &request)
{
    const QJsonValue value = request.value(QLatin1String("delay_max"));
    const double delay = value.toDouble(-1);
    if (!value.isDouble() || delay < 0 || delay > 3600 * 1000 || delay != std::floor(delay))
        return defaultDelayMax;
    return static_cast<int>(delay);
}

} // namespace

DeviceSimulator::DeviceSimulator(const SimulatorOptions &options, QObject *parent)
    : QObject(parent),
      m_options(options),
      m_random(options.hasSeed ? QRandomGenerator(options.seed) : QRandomGenerator::securelySeeded()),
      m_socket(new QUdpSocket(this)),
      m_scheduler(new ReplyScheduler(m_clock, this))
{
    m_clock.start();
    connect(m_scheduler, &ReplyScheduler::due, this, &DeviceSimulator::sendScheduled);
    connect(m_socket, &QUdpSocket::readyRead, this, &DeviceSimulator::readPendingDatagrams);
}

bool DeviceSimulator::start(QString *error)
{
    if (!m_options.codec.isEmpty())
        m_codec = QTextCodec::codecForName(m_options.codec.toLatin1());
    if (!loadDevices(error))
        return false;
    if (!m_options.recordFile.isEmpty() && !m_recorder.open(m_options.recordFile, error))
        return false;
    return openSocket(error);
}

bool DeviceSimulator::loadDevices(QString *error)
{
    if (!m_options.devicesFile.isEmpty() && !m_devices.loadFile(m_options.devicesFile, error))
        return false;
    m_devices.generate(m_options.count);
    if (m_options.incompletePercent > 0
        && !m_devices.makeIncomplete(m_options.incompletePercent, m_options.missingMember, error))
        return false;
    if (m_options.malformed)
        m_extras = malformedDatagrams();
    for (const QString &path : qAsConst(m_options.rawReplyFiles)) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            *error = path + QStringLiteral(": ") + file.errorString();
            return false;
        }
        m_extras.append(file.readAll());
    }
    return loadTrailers(error);
}

bool DeviceSimulator::loadTrailers(QString *error)
{
    // A C string's terminator, then what an older, longer message left in the buffer.
    const QByteArray nul(1, '\0');
    const QByteArray nulAndJunk = nul + QByteArray("\xcd\xcd\xcd\xcd{\"request\":true}");
    const QPair<const QStringList *, QByteArray> kinds[]
        = { { &m_options.nulTerminated, nul }, { &m_options.nulJunk, nulAndJunk } };
    for (const auto &kind : kinds) {
        for (const QString &mac : *kind.first) {
            const int index = m_devices.indexOf(mac);
            if (index < 0) {
                *error = QStringLiteral("no device has MAC address ") + mac;
                return false;
            }
            m_trailers.insert(index, kind.second);
        }
    }
    for (const QStringList *macs : { &m_options.ignoreConfigMacs, &m_options.dropConfigReplyMacs }) {
        for (const QString &mac : *macs) {
            const int index = m_devices.indexOf(mac);
            if (index < 0) {
                *error = QStringLiteral("no device has MAC address ") + mac;
                return false;
            }
            if (macs == &m_options.ignoreConfigMacs)
                m_ignoringConfig.insert(index);
            else
                ++m_configRepliesToDrop[index];
        }
    }
    return true;
}

bool DeviceSimulator::openSocket(QString *error)
{
    if (!m_socket->bind(QHostAddress::AnyIPv4, discoveryPort,
            QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint)) {
        *error = QStringLiteral("cannot bind port %1: %2").arg(discoveryPort).arg(m_socket->errorString());
        return false;
    }
    // A burst of thousands of replies must not overrun the default send buffer.
    m_socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, 4 << 20);

    // Only the interfaces it was given: a default could be a real network.
    QList<QNetworkInterface> interfaces;
    for (const QString &name : qAsConst(m_options.interfaces)) {
        const QNetworkInterface named = QNetworkInterface::interfaceFromName(name);
        if (!named.isValid()) {
            *error = QStringLiteral("no interface named ") + name;
            return false;
        }
        interfaces.append(named);
    }
    for (const QNetworkInterface &iface : qAsConst(interfaces)) {
        if (m_socket->joinMulticastGroup(discoveryGroup, iface)) {
            m_joined.append(iface.name());
            m_joinedIndexes.insert(static_cast<uint>(iface.index()));
        } else {
            std::fprintf(stderr, "varnitt-devsim: cannot join %s on %s: %s\n",
                qPrintable(discoveryGroup.toString()), qPrintable(iface.name()),
                qPrintable(m_socket->errorString()));
        }
    }
    if (m_joined.isEmpty()) {
        *error = QStringLiteral("joined the group on no interface");
        return false;
    }
    log(QStringLiteral("%1 devices, listening on %2").arg(m_devices.size()).arg(m_joined.join(',')));
    return true;
}

void DeviceSimulator::readPendingDatagrams()
{
    while (m_socket->hasPendingDatagrams())
        handleDatagram(m_socket->receiveDatagram());
}

void DeviceSimulator::handleDatagram(const QNetworkDatagram &datagram)
{
    // The port is bound on every address, so a request can arrive elsewhere; it gets no answer.
    if (!m_joinedIndexes.contains(datagram.interfaceIndex()))
        return;
    ++m_received;
    m_recorder.record(m_clock.nsecsElapsed() / 1e6, datagram);
    QJsonParseError parseError;
    QJsonDocument document = QJsonDocument::fromJson(datagram.data(), &parseError);
    // config_net requests are written in GBK, which only matters for non-ASCII values.
    if (parseError.error != QJsonParseError::NoError)
        document
            = QJsonDocument::fromJson(QTextCodec::codecForName("GBK")->toUnicode(datagram.data()).toUtf8());
    if (!document.isObject())
        return;
    const QJsonObject message = document.object();
    if (message.value(QLatin1String("request")) != QJsonValue(true))
        return;
    const QJsonValue command = message.value(QLatin1String("command"));
    if (command == QJsonValue(QLatin1String("search")))
        answerSearch(message, datagram.senderAddress(), static_cast<quint16>(datagram.senderPort()));
    else if (command == QJsonValue(QLatin1String("config_net")) && !m_options.ignoreConfig)
        answerConfigNet(message, datagram.senderAddress(), static_cast<quint16>(datagram.senderPort()));
}

void DeviceSimulator::answerSearch(const QJsonObject &request, const QHostAddress &address, quint16 port)
{
    const qint64 now = m_clock.elapsed();
    const int items = m_devices.size() + m_extras.size();
    if (m_options.firstAnswerDelayMs >= 0) {
        if (m_firstAnswerAt < 0)
            m_firstAnswerAt = now + m_options.firstAnswerDelayMs;
        if (now < m_firstAnswerAt) {
            // Held requests are answered once per source when the device wakes up.
            const auto source = qMakePair(address.toString(), port);
            if (m_deferredSources.contains(source))
                return;
            m_deferredSources.insert(source);
            for (int i = 0; i < items; ++i)
                m_scheduler->schedule(m_firstAnswerAt, i - m_extras.size(), address, port);
            log(QStringLiteral("search from %1:%2 held until %3 ms")
                    .arg(address.toString())
                    .arg(port)
                    .arg(m_firstAnswerAt));
            return;
        }
    }
    const int delayMax = delayMaxOf(request);
    for (int i = 0; i < items; ++i) {
        int delay = m_options.replyDelayMs;
        if (delay < 0)
            delay = delayMax > 0 ? static_cast<int>(m_random.bounded(delayMax)) : 0;
        m_scheduler->schedule(now + delay, i - m_extras.size(), address, port);
    }
    log(QStringLiteral("search from %1:%2, delay_max %3: %4 replies scheduled")
            .arg(address.toString())
            .arg(port)
            .arg(delayMax)
            .arg(items));
}

void DeviceSimulator::answerConfigNet(const QJsonObject &request, const QHostAddress &address, quint16 port)
{
    const int named = m_devices.indexOf(request.value(QLatin1String("macaddr")).toString());
    if (named >= 0 && m_ignoringConfig.contains(named)) {
        log(QStringLiteral("config_net for device %1 ignored, as told").arg(named));
        return;
    }
    const int index = m_devices.applyNetworkConfig(request);
    if (index < 0) {
        log(QStringLiteral("config_net for unknown %1 ignored")
                .arg(request.value(QLatin1String("macaddr")).toString()));
        return;
    }
    QJsonObject reply;
    reply.insert(QStringLiteral("request"), false);
    reply.insert(QStringLiteral("command"), QStringLiteral("config_net"));
    reply.insert(QStringLiteral("macaddr"), request.value(QLatin1String("macaddr")));
    // The device took the change; only its answer is lost on the way.
    if (m_configRepliesToDrop.value(index) > 0
        || (m_options.configDropPercent > 0
            && m_random.generateDouble() * 100 < m_options.configDropPercent)) {
        if (m_configRepliesToDrop.value(index) > 0)
            --m_configRepliesToDrop[index];
        ++m_dropped;
        log(QStringLiteral("config_net applied to device %1, reply dropped").arg(index));
        return;
    }
    const QByteArray payload
        = encoded(QJsonDocument(reply).toJson(QJsonDocument::Compact)) + m_trailers.value(index);
    send(payload, address, port);
    if (m_options.duplicate)
        send(payload, address, port);
    log(QStringLiteral("config_net applied to device %1 and answered").arg(index));
}

void DeviceSimulator::sendScheduled(int item, const QHostAddress &address, quint16 port)
{
    // Negative items are the extra datagrams, sent as they are.
    if (item < 0) {
        send(m_extras.at(item + m_extras.size()), address, port);
        return;
    }
    if (m_options.dropPercent > 0 && m_random.generateDouble() * 100 < m_options.dropPercent) {
        ++m_dropped;
        return;
    }
    QByteArray payload = encoded(m_devices.searchReply(item));
    if (!m_trailers.isEmpty())
        payload += m_trailers.value(item);
    send(payload, address, port);
    if (m_options.duplicate)
        send(payload, address, port);
}

void DeviceSimulator::send(const QByteArray &payload, const QHostAddress &address, quint16 port)
{
    if (m_socket->writeDatagram(payload, address, port) == payload.size()) {
        ++m_sent;
        return;
    }
    ++m_sendFailures;
    log(QStringLiteral("send to %1:%2 failed: %3")
            .arg(address.toString())
            .arg(port)
            .arg(m_socket->errorString()));
}

QByteArray DeviceSimulator::encoded(const QByteArray &utf8Json) const
{
    return m_codec ? m_codec->fromUnicode(QString::fromUtf8(utf8Json)) : utf8Json;
}

QString DeviceSimulator::statistics() const
{
    return QStringLiteral("received %1, sent %2, dropped %3, send failures %4, pending %5")
        .arg(m_received)
        .arg(m_sent)
        .arg(m_dropped)
        .arg(m_sendFailures)
        .arg(m_scheduler->pending());
}

void DeviceSimulator::log(const QString &line) const
{
    if (m_options.verbose)
        std::fprintf(stderr, "varnitt-devsim %.1f: %s\n", m_clock.nsecsElapsed() / 1e6, qPrintable(line));
}
