#pragma once

// Programs that can open discovery sockets call this first: they run only where the
// test harness built the network (a sandbox of tests/sandbox.sh), never
// on a machine's real interfaces.

#include <QFile>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QString>

#include <cstdio>
#include <cstdlib>
#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace testnetwork {

// Empty when every interface that is up, loopback aside, carries IPv4 addresses of
// 198.51.100.0/24 and nothing else but IPv6 link-local ones; otherwise names the first
// one that does not.
inline QString foreignInterface()
{
    const QHostAddress testLan(QStringLiteral("198.51.100.0"));
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : interfaces) {
        const auto flags = iface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) || flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        bool onTestLan = false;
        const QList<QNetworkAddressEntry> entries = iface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            const QHostAddress ip = entry.ip();
            if (ip.protocol() == QAbstractSocket::IPv4Protocol && ip.isInSubnet(testLan, 24))
                onTestLan = true;
            else if (ip.protocol() != QAbstractSocket::IPv6Protocol || !ip.isLinkLocal())
                return iface.name() + QStringLiteral(" (") + ip.toString() + QLatin1Char(')');
        }
        // Up without a test address, it could still join and send multicast.
        if (!onTestLan)
            return iface.name() + QStringLiteral(" (no 198.51.100.x address)");
    }
    return QString();
}

// True inside a sandbox of tests/sandbox.sh: it leaves the network namespace it made in
// the /tmp of its own, which Wine shows on drive Z:.
inline bool inSandbox()
{
#ifdef Q_OS_WIN
    return QFile::exists(QStringLiteral("Z:/tmp/.varnitt-sandbox"));
#else
    QFile mark(QStringLiteral("/tmp/.varnitt-sandbox"));
    char ns[64] = {};
    return mark.open(QIODevice::ReadOnly) && ::readlink("/proc/self/ns/net", ns, sizeof ns - 1) > 0
        && mark.readAll().trimmed() == QByteArray(ns);
#endif
}

// Ends the program with a failing status unless it runs on a test network.
inline void requireTestNetwork(const char *program)
{
    QString why = QStringLiteral("not inside a sandbox");
    if (inSandbox()) {
        const QString foreign = foreignInterface();
        if (foreign.isEmpty())
            return;
        why = QStringLiteral("interface ") + foreign + QStringLiteral(" is outside a test network");
    }
    std::fprintf(
        stderr, "%s: refusing to run: %s; run it through ctest or tests/sandbox.sh\n", program, qPrintable(why));
    std::exit(EXIT_FAILURE);
}

} // namespace testnetwork
