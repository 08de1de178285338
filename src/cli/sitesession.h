#pragma once

#include "siteplan.h"

#include <QHash>
#include <QList>
#include <QNetworkAddressEntry>
#include <QObject>
#include <QSet>

class QUdpSocket;

// One config_net request every this many ms. Every device on the segment hears every
// request (they all go to the group), so this is the rate each device must read.
constexpr int configPaceMs = 5;
// A device that has not answered its request by then gets it again, twice at most.
constexpr int configReplyTimeoutMs = 2000;
constexpr int configResends = 2;

// The command line's side of the protocol: the window's sockets, search cycle and
// requests, driven from a local event loop.
class SiteSession : public QObject {
    Q_OBJECT

public:
    explicit SiteSession(QObject *parent = nullptr);

    // Opens the discovery sockets (on the named interfaces only, unless none are named);
    // false when there is no usable address.
    bool open(const QStringList &interfaces);
    QList<QNetworkAddressEntry> addresses() const
    {
        return m_entries;
    }

    // One search cycle; the devices in the order of their first replies.
    QList<SiteDevice> search();

    struct Request {
        QString mac; // as the device's search reply gave it
        SiteTarget target;
    };
    // Sends the requests paced, resends to those without a reply; the MAC keys that answered.
    QSet<QString> configure(const QList<Request> &requests);
    int configRequestsSent() const
    {
        return m_configSent;
    }

private:
    void handle(const QString &text);
    void sendSearch();

    QList<QUdpSocket *> m_sockets;
    QList<QNetworkAddressEntry> m_entries;
    QList<SiteDevice> m_found;
    QSet<QString> m_seen;
    int m_searchCount = 0;
    QSet<QString> m_answered;
    int m_configSent = 0;
};
