#include "mainwindow.h"

#include "discoverysockets.h"

#include <QCoreApplication>
#include <QLabel>
#include <QUdpSocket>

void MainWindow::initSockets()
{
    qRegisterMetaType<QAbstractSocket::SocketState>("QAbstractSocket::SocketState");
    udpSockets = discovery::openSockets(this);
    for (QUdpSocket *socket : qAsConst(udpSockets)) {
        connect(socket, SIGNAL(readyRead()), this, SLOT(onSocketReadyRead()));
        connect(socket, SIGNAL(stateChanged(QAbstractSocket::SocketState)), this,
            SLOT(onSocketStateChange(QAbstractSocket::SocketState)));
    }
}

void MainWindow::writeToAllSockets(const QByteArray &payload)
{
    discovery::writeToAll(udpSockets, payload);
}

void MainWindow::onSocketReadyRead()
{
    auto *socket = qobject_cast<QUdpSocket *>(sender());
    if (!socket)
        return;
    discovery::readPending(socket, [this](const QString &text) { parseResponse(text); });
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
