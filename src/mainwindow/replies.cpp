#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "audiodevice.h"
#include "discoverymessages.h"
#include "encoding.h"
#include "searchcycle.h"

#include <QDebug>
#include <QJsonObject>

void MainWindow::parseResponse(const QString &text)
{
    QJsonObject object;
    switch (discovery::classifyReply(text, &object)) {
    case discovery::ReplyKind::Search: {
        AudioDevice device;
        if (parseSearchResponse(object, &device) != 0)
            return;
        qDebug() << device.displayName << "," << device.status << "," << device.dhcp << "," << device.ipAddr
                 << "," << device.subnetMask << "," << device.gateway << "," << device.macAddr;
        // The first row with a MAC address wins; later replies never update it.
        if (listedMacs.contains(device.macAddr))
            return;
        addDeviceRow(device);
        discovery::searchFoundNewDevice(&searchCount);
        break;
    }
    case discovery::ReplyKind::ConfigNet:
        qDebug() << "parseConfigNetResponse";
        parseConfigNetResponse(object);
        break;
    case discovery::ReplyKind::None:
        break;
    }
}

void MainWindow::addDeviceRow(const AudioDevice &device)
{
    QTableWidget *table = ui->tableWidgetDevList;
    const int row = table->rowCount();
    table->insertRow(row);

    auto *record = new AudioDevice(device);
    listedMacs.insert(record->macAddr);

    const QString typeText = device.typeName.isEmpty() ? device.vendorTypeName : device.typeName;
    const QString texts[] = {
        device.sipAccount,
        device.displayName,
        reencodeGB18030(typeText),
        device.ipAddr,
        device.dhcp ? tr("enable") : tr("disable"),
        device.macAddr,
        deviceStatusText(device.status),
        QString::number(device.httpPort),
        QString::number(device.sipPort),
    };
    for (int column = 0; column < 9; ++column) {
        auto *item = new QTableWidgetItem(QTableWidgetItem::Type);
        item->setTextAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
        item->setText(texts[column]);
        if (column == 0) {
            // As printf's %x prints a pointer: its low 32 bits.
            qDebug("%x", unsigned(quintptr(record)));
            item->setIcon(rowMarker);
            // The table does not own the record; the next search deletes it.
            item->setData(Qt::UserRole, QVariant::fromValue(static_cast<void *>(record)));
        }
        table->setItem(row, column, item);
    }
    adjustColumnWidths();
}
