#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

// A complete search reply as a device sends it; tests override single members.
inline QJsonObject searchReply(const QString &mac, const QJsonObject &overrides = {})
{
    QJsonObject reply {
        { "request", false },
        { "command", "search" },
        { "vendor_devtype_name", "SA-100" },
        { "custom_devtype_name", "" },
        { "user_devtype_name", "Lobby speaker" },
        { "dev_status", 0 },
        { "dhcp", false },
        { "ipaddr", "198.51.100.7" },
        { "subnet_mask", "255.255.255.0" },
        { "gateway", "198.51.100.254" },
        { "macaddr", mac },
        { "http_Port", 80 },
        { "user_account", "1001" },
        { "display_name", "Lobby" },
        { "sip_port", 5060 },
    };
    for (auto it = overrides.begin(); it != overrides.end(); ++it)
        reply.insert(it.key(), it.value());
    return reply;
}

inline QString replyText(const QJsonObject &reply)
{
    return QString::fromUtf8(QJsonDocument(reply).toJson(QJsonDocument::Compact));
}
