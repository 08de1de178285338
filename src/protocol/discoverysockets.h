#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QNetworkAddressEntry>
#include <QNetworkInterface>
#include <QString>
#include <QStringList>

#include <functional>

class QObject;
class QUdpSocket;

// The discovery sockets: one per IPv4 address of every usable interface.
namespace discovery {

extern const QHostAddress group;
constexpr quint16 port = 65176;

// Up, not loopback, able to multicast.
bool isUsableInterface(const QNetworkInterface &iface);
// The system names of the usable interfaces, in the system's order.
QStringList usableInterfaceNames();

// One bound and joined socket per IPv4 address of the usable interfaces (only of those
// named in onlyInterfaces, when it is not empty), with parent as their Qt parent.
// entries, when given, receives each socket's address entry.
QList<QUdpSocket *> openSockets(
    QObject *parent, const QStringList &onlyInterfaces = {}, QList<QNetworkAddressEntry> *entries = nullptr);

// Sends payload once on every socket, in list order, to the group.
void writeToAll(const QList<QUdpSocket *> &sockets, const QByteArray &payload);

// Reads every pending datagram of socket, logs it and hands its decoded text on.
void readPending(QUdpSocket *socket, const std::function<void(const QString &)> &handle);

} // namespace discovery
