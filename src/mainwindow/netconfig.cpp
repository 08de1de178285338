#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "encoding.h"
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
    const QByteArray payload = encodeGBK(QString::fromUtf8(request));
    statusLabel->setText(tr("config device(%1) network parameter...").arg(config.macAddr));
    writeToAllSockets(payload);
}

void MainWindow::parseConfigNetResponse(const QJsonObject &object)
{
    const auto mac = object.constFind(QLatin1String("macaddr"));
    if (mac == object.constEnd())
        return;
    const QString text = mac.value().isString() ? mac.value().toString() : QString();
    statusLabel->setText(tr("config device(%1) network parameter success.").arg(text));
}
