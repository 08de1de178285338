#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "audiodevice.h"
#include "encoding.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

const QLatin1String searchCommand("search");
// Real replies are a few hundred bytes; longer ones are parsed every time.
constexpr int maxCachedReplyLength = 2048;

// Appends text as the debug stream quotes it; printable ASCII, the usual case, skips the stream.
void appendQuoted(QString &line, const QString &text)
{
    for (const QChar ch : text) {
        const ushort code = ch.unicode();
        if (code < 0x20 || code > 0x7e || code == '"' || code == '\\') {
            QDebug(&line).nospace() << text;
            return;
        }
    }
    line += QLatin1Char('"');
    line += text;
    line += QLatin1Char('"');
}

// The device line exactly as qDebug() writes these items separated by " , ".
QString deviceLine(const AudioDevice &device)
{
    const QLatin1String separator(" , ");
    QString line;
    line.reserve(160);
    appendQuoted(line, device.displayName);
    line += separator;
    line += QString::number(device.status);
    line += separator;
    line += device.dhcp ? QLatin1String("true") : QLatin1String("false");
    for (const QString *text : { &device.ipAddr, &device.subnetMask, &device.gateway, &device.macAddr }) {
        line += separator;
        appendQuoted(line, *text);
    }
    return line;
}

} // namespace

void MainWindow::parseResponse(const QString &text)
{
    // Devices answer every request with the same bytes: a repeat whose device is listed
    // ends as it did the first time, so only its log lines are written again.
    const auto repeated = handledReplies.constFind(text);
    if (repeated != handledReplies.constEnd() && listedMacs.contains(repeated->macAddr)) {
        qDebug() << false;
        qDebug() << searchCommand;
        logParseSearchResponse();
        qDebug().noquote() << repeated->deviceLine;
        return;
    }

    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
    if (!document.isObject())
        return;
    const QJsonObject object = document.object();

    const auto request = object.constFind(QLatin1String("request"));
    if (request == object.constEnd()) {
        qDebug() << "request not found!";
        return;
    }
    const bool isRequest = request.value().isBool() && request.value().toBool();
    qDebug() << isRequest;
    // Requests, this program's own included, are never replies.
    if (isRequest)
        return;

    const auto commandValue = object.constFind(QLatin1String("command"));
    if (commandValue == object.constEnd()) {
        qDebug() << "command not found!";
        return;
    }
    const QString command = commandValue.value().isString() ? commandValue.value().toString() : QString();
    qDebug() << command;

    if (command == searchCommand) {
        AudioDevice device;
        if (parseSearchResponse(object, &device) != 0)
            return;
        const QString line = deviceLine(device);
        qDebug().noquote() << line;
        // Bounded in count and size, so a sender varying its replies cannot make it grow without end.
        if (text.size() <= maxCachedReplyLength && handledReplies.size() < 2 * listedMacs.size() + 16)
            handledReplies.insert(text, HandledReply { line, device.macAddr });
        // The first row with a MAC address wins; later replies never update it.
        if (listedMacs.contains(device.macAddr))
            return;
        addDeviceRow(device);
        searchCount = 0;
    } else if (command == QLatin1String("config_net")) {
        qDebug() << "parseConfigNetResponse";
        parseConfigNetResponse(object);
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
