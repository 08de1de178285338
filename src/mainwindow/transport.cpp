#include "mainwindow.h"

#include "encoding.h"

#include <QCoreApplication>
#include <QDebug>
#include <QHostAddress>
#include <QLabel>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QNetworkProxy>
#include <QUdpSocket>

namespace {

const QHostAddress discoveryGroup(QStringLiteral("239.255.255.250"));
constexpr quint16 discoveryPort = 65176;

// Big enough for the reply burst of a large site answering within 500 ms.
constexpr int receiveBufferBytes = 8 * 1024 * 1024;

bool isUsable(const QNetworkInterface &iface)
{
    const QNetworkInterface::InterfaceFlags flags = iface.flags();
    return flags.testFlag(QNetworkInterface::IsUp) && !flags.testFlag(QNetworkInterface::IsLoopBack)
        && flags.testFlag(QNetworkInterface::CanMulticast);
}

} // namespace

void MainWindow::initSockets()
{
    qRegisterMetaType<QAbstractSocket::SocketState>("QAbstractSocket::SocketState");

    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : interfaces) {
        if (!isUsable(iface))
            continue;
        qDebug() << "use network interface:" << iface.name() << iface.humanReadableName();

        const QList<QNetworkAddressEntry> entries = iface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            const QHostAddress address = entry.ip();
            if (address.protocol() != QAbstractSocket::IPv4Protocol)
                continue;

            auto *socket = new QUdpSocket(this);
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

            if (!socket->joinMulticastGroup(discoveryGroup, iface)) {
                qDebug() << "join multicast group fail" << discoveryGroup.toString() << "by interface"
                         << iface.name();
                delete socket;
                continue;
            }
            qDebug() << "join multicast group success" << discoveryGroup.toString() << "by interface"
                     << iface.name();
            // Windows sends multicast out of its default interface whatever the socket is bound
            // to, so a laptop's Wi-Fi would carry the search meant for its Ethernet.
            socket->setMulticastInterface(iface);

            connect(socket, SIGNAL(readyRead()), this, SLOT(onSocketReadyRead()));
            connect(socket, SIGNAL(stateChanged(QAbstractSocket::SocketState)), this,
                SLOT(onSocketStateChange(QAbstractSocket::SocketState)));
            udpSockets.append(socket);
        }
    }
}

void MainWindow::writeToAllSockets(const QByteArray &payload)
{
    for (QUdpSocket *socket : qAsConst(udpSockets))
        socket->writeDatagram(payload, discoveryGroup, discoveryPort);
}

void MainWindow::onSocketReadyRead()
{
    auto *socket = qobject_cast<QUdpSocket *>(sender());
    if (!socket)
        return;
    while (socket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket->receiveDatagram();
        // A failed read would otherwise leave the datagram pending and spin here.
        if (!datagram.isValid())
            break;
        const QByteArray data = datagram.data();
        qDebug() << "received multicast data:" << data << " from" << datagram.senderAddress().toString()
                 << ":" << quint16(datagram.senderPort());
        parseResponse(decodeReply(data));
    }
}

void MainWindow::onSocketStateChange(QAbstractSocket::SocketState socketState)
{
    static const char *const texts[] = {
        QT_TRANSLATE_NOOP("MainWindow", "scoket状态：UnconnectedState"),
        QT_TRANSLATE_NOOP("MainWindow", "scoket状态：HostLookupState"),
        QT_TRANSLATE_NOOP("MainWindow", "scoket状态：ConnectingState"),
        QT_TRANSLATE_NOOP("MainWindow", "scoket状态：ConnectedState"),
        QT_TRANSLATE_NOOP("MainWindow", "scoket状态：BoundState"),
        QT_TRANSLATE_NOOP("MainWindow", "scoket状态：ListeningState"),
        QT_TRANSLATE_NOOP("MainWindow", "scoket状态：ClosingState"),
    };
    const int state = int(socketState);
    if (state < 0 || state >= int(std::size(texts)))
        return;
    statusLabel->setText(QCoreApplication::translate("MainWindow", texts[state]));
}
