#include "sitesession.h"

#include "audiodevice.h"
#include "discoverymessages.h"
#include "discoverysockets.h"
#include "networkconfig.h"
#include "searchcycle.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonObject>
#include <QTimer>
#include <QUdpSocket>

SiteSession::SiteSession(QObject *parent) : QObject(parent) { }

bool SiteSession::open(const QStringList &interfaces)
{
    m_sockets = discovery::openSockets(this, interfaces, &m_entries);
    for (QUdpSocket *socket : qAsConst(m_sockets)) {
        connect(socket, &QUdpSocket::readyRead, this, [this, socket] {
            discovery::readPending(socket, [this](const QString &text) { handle(text); });
        });
    }
    return !m_sockets.isEmpty();
}

void SiteSession::handle(const QString &text)
{
    QJsonObject object;
    switch (discovery::classifyReply(text, &object)) {
    case discovery::ReplyKind::Search: {
        AudioDevice device;
        if (discovery::parseSearchReply(object, &device) != 0)
            return;
        // One device per MAC text, the first reply wins, and a new one extends the cycle.
        if (m_seen.contains(device.macAddr))
            return;
        m_seen.insert(device.macAddr);
        m_found << SiteDevice::from(device);
        discovery::searchFoundNewDevice(&m_searchCount);
        break;
    }
    case discovery::ReplyKind::ConfigNet: {
        QString mac;
        if (discovery::configNetReplyMac(object, &mac))
            m_answered.insert(siteplan::macKey(mac));
        break;
    }
    case discovery::ReplyKind::None:
        break;
    }
}

void SiteSession::sendSearch()
{
    const QByteArray request = discovery::searchRequestBytes();
    qDebug() << request;
    discovery::writeToAll(m_sockets, request);
}

QList<SiteDevice> SiteSession::search()
{
    m_found.clear();
    m_seen.clear();
    m_searchCount = 0;
    QEventLoop loop;
    QTimer ticks;
    ticks.setInterval(discovery::searchTickMs);
    ticks.setTimerType(Qt::PreciseTimer);
    connect(&ticks, &QTimer::timeout, &loop, [this, &loop] {
        if (discovery::searchTickRepeats(&m_searchCount))
            sendSearch();
        else
            loop.quit();
    });
    sendSearch();
    ticks.start();
    loop.exec();
    return m_found;
}

QSet<QString> SiteSession::configure(const QList<Request> &requests)
{
    enum class State { Queued, Waiting, GivenUp };
    struct Pending {
        QString key;
        QByteArray payload;
        int sends = 0;
        qint64 sentAt = -1;
        State state = State::Queued;
    };
    QVector<Pending> pending;
    QList<int> queue;
    for (const Request &request : requests) {
        NetworkConfig config;
        config.dhcp = request.target.dhcp;
        config.ipAddr = request.target.ip;
        config.subnetMask = request.target.mask;
        config.gateway = request.target.gateway;
        config.macAddr = request.mac;
        config.httpPort = request.target.httpPort;
        const QByteArray bytes = discovery::configNetRequestBytes(config);
        qDebug() << bytes;
        queue << pending.size();
        pending.append({ siteplan::macKey(request.mac), discovery::configNetPayload(bytes) });
    }
    m_answered.clear();

    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer pace;
    pace.setInterval(configPaceMs);
    pace.setTimerType(Qt::PreciseTimer);
    connect(&pace, &QTimer::timeout, &loop, [&] {
        bool open = false;
        for (int i = 0; i < pending.size(); ++i) {
            Pending &p = pending[i];
            if (m_answered.contains(p.key) || p.state == State::GivenUp)
                continue;
            if (p.state == State::Waiting && clock.elapsed() - p.sentAt >= configReplyTimeoutMs) {
                p.state = p.sends > configResends ? State::GivenUp : State::Queued;
                if (p.state == State::GivenUp)
                    continue;
                queue << i;
            }
            open = true;
        }
        // One datagram per tick at most, and none for a device that has answered meanwhile.
        while (!queue.isEmpty() && m_answered.contains(pending.at(queue.constFirst()).key))
            queue.removeFirst();
        if (!queue.isEmpty()) {
            Pending &p = pending[queue.takeFirst()];
            discovery::writeToAll(m_sockets, p.payload);
            ++m_configSent;
            ++p.sends;
            p.sentAt = clock.elapsed();
            p.state = State::Waiting;
        } else if (!open) {
            loop.quit();
        }
    });
    pace.start();
    loop.exec();
    return m_answered;
}
