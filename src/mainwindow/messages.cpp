#include "mainwindow.h"

#include "discoverymessages.h"

QByteArray MainWindow::searchRequestBytes()
{
    return discovery::searchRequestBytes();
}

QByteArray MainWindow::configNetRequestBytes(const NetworkConfig &config)
{
    return discovery::configNetRequestBytes(config);
}

QString MainWindow::deviceStatusText(int status)
{
    return discovery::deviceStatusText(status);
}

int MainWindow::parseSearchResponse(const QJsonObject &object, AudioDevice *device)
{
    return discovery::parseSearchReply(object, device);
}
