#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "discoverymessages.h"
#include "networkconfig.h"

#include <QDebug>
#include <QJsonObject>
#include <QLabel>
#include <QMessageBox>

void MainWindow::on_pushButtonConfigNet_clicked()
{
    NetworkConfig config;
    if (ui->lineEditMACAddr->text().isEmpty()) {
        QMessageBox box(
            QMessageBox::Information, tr("Operation Prompt"), tr("Please select a device!"), QMessageBox::Ok);
        box.exec();
        return;
    }
    config.dhcp = ui->checkBoxDhcp->isChecked();
    config.ipAddr = ui->widgetIPAddr->getIP();
    config.subnetMask = ui->widgetSubnetMask->getIP();
    config.gateway = ui->widgetGateway->getIP();
    config.httpPort = ui->spinBoxHttpPort->value();
    config.macAddr = ui->lineEditMACAddr->text();
    sendConfigNetRequest(config);
}

void MainWindow::sendConfigNetRequest(const NetworkConfig &config)
{
    const QByteArray request = configNetRequestBytes(config);
    qDebug() << request;
    const QByteArray payload = discovery::configNetPayload(request);
    statusLabel->setText(tr("config device(%1) network parameter...").arg(config.macAddr));
    writeToAllSockets(payload);
}

void MainWindow::parseConfigNetResponse(const QJsonObject &object)
{
    QString text;
    if (!discovery::configNetReplyMac(object, &text))
        return;
    statusLabel->setText(tr("config device(%1) network parameter success.").arg(text));
}
