#include "discoverymessages.h"

#include "audiodevice.h"
#include "encoding.h"
#include "jsonint.h"
#include "networkconfig.h"

#include <QCoreApplication>
#include <QDebug>
#include <QJsonDocument>

#include <iterator>

namespace {

QString jsonText(const QJsonValue &value)
{
    return value.isString() ? value.toString() : QString();
}

bool jsonBool(const QJsonValue &value)
{
    return value.isBool() && value.toBool();
}

} // namespace

namespace discovery {

QByteArray searchRequestBytes()
{
    QJsonObject request;
    request.insert(QLatin1String("command"), QLatin1String("search"));
    request.insert(QLatin1String("request"), true);
    request.insert(QLatin1String("multicast"), true);
    request.insert(QLatin1String("delay_max"), 500);
    return QJsonDocument(request).toJson(QJsonDocument::Indented);
}

QByteArray configNetRequestBytes(const NetworkConfig &config)
{
    QJsonObject request;
    request.insert(QLatin1String("command"), QLatin1String("config_net"));
    request.insert(QLatin1String("request"), true);
    request.insert(QLatin1String("multicast"), true);
    request.insert(QLatin1String("dhcp"), config.dhcp);
    request.insert(QLatin1String("ipaddr"), config.ipAddr);
    request.insert(QLatin1String("subnet_mask"), config.subnetMask);
    request.insert(QLatin1String("gateway"), config.gateway);
    request.insert(QLatin1String("macaddr"), config.macAddr);
    request.insert(QLatin1String("http_port"), config.httpPort);
    return QJsonDocument(request).toJson(QJsonDocument::Indented);
}

QByteArray configNetPayload(const QByteArray &requestBytes)
{
    return encodeGBK(QString::fromUtf8(requestBytes));
}

int parseSearchReply(const QJsonObject &object, AudioDevice *device)
{
    qDebug() << "parseSearchResponse";

    using Store = void (*)(AudioDevice *, const QJsonValue &);
    struct Field {
        const char *key;
        int missingCode;
        Store store;
    };
    // The reply's members in the order they are examined; the first one missing decides the result.
    static const Field fieldsAfterType[] = {
        { "dev_status", -3, [](AudioDevice *d, const QJsonValue &v) { d->status = jsonWholeInt(v); } },
        { "dhcp", -4, [](AudioDevice *d, const QJsonValue &v) { d->dhcp = jsonBool(v); } },
        { "ipaddr", -5, [](AudioDevice *d, const QJsonValue &v) { d->ipAddr = jsonText(v); } },
        { "subnet_mask", -6, [](AudioDevice *d, const QJsonValue &v) { d->subnetMask = jsonText(v); } },
        { "gateway", -7, [](AudioDevice *d, const QJsonValue &v) { d->gateway = jsonText(v); } },
        { "macaddr", -8, [](AudioDevice *d, const QJsonValue &v) { d->macAddr = jsonText(v); } },
        { "http_Port", -9, [](AudioDevice *d, const QJsonValue &v) { d->httpPort = jsonWholeInt(v); } },
        { "user_account", -10, [](AudioDevice *d, const QJsonValue &v) { d->sipAccount = jsonText(v); } },
        { "display_name", -11, [](AudioDevice *d, const QJsonValue &v) { d->displayName = jsonText(v); } },
        { "sip_port", -12, [](AudioDevice *d, const QJsonValue &v) { d->sipPort = jsonWholeInt(v); } },
    };

    const auto vendorType = object.constFind(QLatin1String("vendor_devtype_name"));
    if (vendorType == object.constEnd())
        return -1;
    device->vendorTypeName = jsonText(vendorType.value());

    // Either type name will do; the user's wins over the installer's.
    const auto customType = object.constFind(QLatin1String("custom_devtype_name"));
    const auto userType = object.constFind(QLatin1String("user_devtype_name"));
    if (customType != object.constEnd())
        device->typeName = jsonText(customType.value());
    if (userType != object.constEnd())
        device->typeName = jsonText(userType.value());
    else if (customType == object.constEnd())
        return -2;

    for (const Field &field : fieldsAfterType) {
        const auto found = object.constFind(QLatin1String(field.key));
        if (found == object.constEnd())
            return field.missingCode;
        field.store(device, found.value());
    }
    return 0;
}

ReplyKind classifyReply(const QString &text, QJsonObject *object)
{
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
    if (!document.isObject())
        return ReplyKind::None;
    *object = document.object();

    const auto request = object->constFind(QLatin1String("request"));
    if (request == object->constEnd()) {
        qDebug() << "request not found!";
        return ReplyKind::None;
    }
    const bool isRequest = request.value().isBool() && request.value().toBool();
    qDebug() << isRequest;
    // Requests, this program's own included, are never replies.
    if (isRequest)
        return ReplyKind::None;

    const auto commandValue = object->constFind(QLatin1String("command"));
    if (commandValue == object->constEnd()) {
        qDebug() << "command not found!";
        return ReplyKind::None;
    }
    const QString command = jsonText(commandValue.value());
    qDebug() << command;
    if (command == QLatin1String("search"))
        return ReplyKind::Search;
    if (command == QLatin1String("config_net"))
        return ReplyKind::ConfigNet;
    return ReplyKind::None;
}

bool configNetReplyMac(const QJsonObject &object, QString *mac)
{
    const auto found = object.constFind(QLatin1String("macaddr"));
    if (found == object.constEnd())
        return false;
    *mac = jsonText(found.value());
    return true;
}

QString deviceStatusText(int status)
{
    static const char *const texts[] = {
        QT_TRANSLATE_NOOP("MainWindow", "idle"),
        QT_TRANSLATE_NOOP("MainWindow", "rtp playing"),
        QT_TRANSLATE_NOOP("MainWindow", "calling"),
        QT_TRANSLATE_NOOP("MainWindow", "calling"),
        QT_TRANSLATE_NOOP("MainWindow", "calling"),
        QT_TRANSLATE_NOOP("MainWindow", "paging"),
        QT_TRANSLATE_NOOP("MainWindow", "file playing"),
    };
    // Codes beyond the known seven show as the number the device sent.
    if (status < 0 || status >= int(std::size(texts)))
        return QString::number(status);
    return QCoreApplication::translate("MainWindow", texts[status]);
}

} // namespace discovery
