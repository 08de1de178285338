#include "discoverysockets.h"

#include "encoding.h"

#include <QDebug>
#include <QNetworkDatagram>
#include <QNetworkProxy>
#include <QUdpSocket>

namespace {

// Big enough for the reply burst of a large site answering within 500 ms.
constexpr int receiveBufferBytes = 8 * 1024 * 1024;

} // namespace

namespace discovery {

const QHostAddress group(QStringLiteral("239.255.255.250"));

bool isUsableInterface(const QNetworkInterface &iface)
{
    const QNetworkInterface::InterfaceFlags flags = iface.flags();
    return flags.testFlag(QNetworkInterface::IsUp) && !flags.testFlag(QNetworkInterface::IsLoopBack)
        && flags.testFlag(QNetworkInterface::CanMulticast);
}

QStringList usableInterfaceNames()
{
    QStringList names;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : interfaces) {
        if (isUsableInterface(iface))
            names << iface.name();
    }
    return names;
}

QList<QUdpSocket *> openSockets(
    QObject *parent, const QStringList &onlyInterfaces, QList<QNetworkAddressEntry> *entriesOut)
{
    QList<QUdpSocket *> sockets;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : interfaces) {
        if (!isUsableInterface(iface))
            continue;
        // Windows users know an adapter by the name the system shows, not its internal one.
        if (!onlyInterfaces.isEmpty() && !onlyInterfaces.contains(iface.name())
            && !onlyInterfaces.contains(iface.humanReadableName()))
            continue;
        qDebug() << "use network interface:" << iface.name() << iface.humanReadableName();

        const QList<QNetworkAddressEntry> entries = iface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            const QHostAddress address = entry.ip();
            if (address.protocol() != QAbstractSocket::IPv4Protocol)
                continue;

            auto *socket = new QUdpSocket(parent);
            socket->setSocketOption(QAbstractSocket::MulticastTtlOption, 1);
            socket->setProxy(QNetworkProxy::NoProxy);
            qDebug() << "bind" << address.toString() << " any port";
            if (!socket->bind(
                    address, 0, QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint)) {
                qDebug() << "bind port 65176 fail:" << socket->errorString();
                delete socket;
                continue;
            }
            qDebug() << "bind success";
            // Options given before the bind are not kept by every Qt release; set them on the real socket.
            socket->setSocketOption(QAbstractSocket::MulticastTtlOption, 1);
            socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, receiveBufferBytes);

            if (!socket->joinMulticastGroup(group, iface)) {
                qDebug() << "join multicast group fail" << group.toString() << "by interface" << iface.name();
                delete socket;
                continue;
            }
            qDebug() << "join multicast group success" << group.toString() << "by interface" << iface.name();
            // Windows sends multicast out of its default interface whatever the socket is bound
            // to, so a laptop's Wi-Fi would carry the search meant for its Ethernet.
            socket->setMulticastInterface(iface);
            sockets.append(socket);
            if (entriesOut)
                entriesOut->append(entry);
        }
    }
    return sockets;
}

void writeToAll(const QList<QUdpSocket *> &sockets, const QByteArray &payload)
{
    for (QUdpSocket *socket : sockets)
        socket->writeDatagram(payload, group, port);
}

void readPending(QUdpSocket *socket, const std::function<void(const QString &)> &handle)
{
    while (socket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket->receiveDatagram();
        // A failed read would otherwise leave the datagram pending and spin here.
        if (!datagram.isValid())
            break;
        const QByteArray data = datagram.data();
        qDebug() << "received multicast data:" << data << " from" << datagram.senderAddress().toString()
                 << ":" << quint16(datagram.senderPort());
        handle(decodeReply(data));
    }
}

} // namespace discovery
