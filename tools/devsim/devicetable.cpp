#include "devicetable.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

#include <cmath>

namespace {

const QString macKey = QStringLiteral("macaddr");

// How many of the first n devices fall in a share of percent, spread evenly.
qint64 shareOf(qint64 n, double percent)
{
    return static_cast<qint64>(std::floor(n * percent / 100.0 + 1e-9));
}

} // namespace

bool DeviceTable::loadFile(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!document.isArray()) {
        *error = path + QStringLiteral(": not a JSON array of objects")
            + (parseError.error != QJsonParseError::NoError
                    ? QStringLiteral(" (") + parseError.errorString() + QLatin1Char(')')
                    : QString());
        return false;
    }
    const QJsonArray array = document.array();
    for (int i = 0; i < array.size(); ++i) {
        if (!array.at(i).isObject()) {
            *error = path + QStringLiteral(": element %1 is not an object").arg(i);
            return false;
        }
        append(array.at(i).toObject());
    }
    return true;
}

void DeviceTable::generate(int count)
{
    const int first = size();
    m_bodies.reserve(first + count);
    for (int i = 0; i < count; ++i)
        append(generatedDevice(first + i));
}

QJsonObject DeviceTable::generatedDevice(int index)
{
    static const char *const vendorTypes[]
        = { "IP Speaker", "IP Intercom", "Paging Gateway", "Horn Speaker" };
    static const char *const customTypes[] = { "SPK-100", "ICM-20", "PGW-4", "HRN-30W" };
    const int number = index + 1;
    QJsonObject device;
    device.insert(QStringLiteral("vendor_devtype_name"), QString::fromLatin1(vendorTypes[index % 4]));
    device.insert(QStringLiteral("custom_devtype_name"), QString::fromLatin1(customTypes[index % 4]));
    if (index % 5 == 4)
        device.insert(QStringLiteral("user_devtype_name"),
            QStringLiteral("Hall %1").arg(number, 4, 10, QLatin1Char('0')));
    device.insert(QStringLiteral("dev_status"), index % 7);
    device.insert(QStringLiteral("dhcp"), index % 3 == 0);
    // The first devices sit in the test LAN's own range, the rest anywhere in 10/8.
    if (index < 96) {
        device.insert(QStringLiteral("ipaddr"), QStringLiteral("198.51.100.%1").arg(101 + index));
        device.insert(QStringLiteral("subnet_mask"), QStringLiteral("255.255.255.0"));
        device.insert(QStringLiteral("gateway"), QStringLiteral("198.51.100.254"));
    } else {
        const int n = index - 96;
        device.insert(QStringLiteral("ipaddr"),
            QStringLiteral("10.%1.%2.%3").arg(n / 62500 % 250 + 1).arg(n / 250 % 250 + 1).arg(n % 250 + 1));
        device.insert(QStringLiteral("subnet_mask"), QStringLiteral("255.0.0.0"));
        device.insert(QStringLiteral("gateway"), QStringLiteral("10.0.0.1"));
    }
    device.insert(macKey,
        QStringLiteral("02:00:00:%1:%2:%3")
            .arg((number >> 16) & 0xff, 2, 16, QLatin1Char('0'))
            .arg((number >> 8) & 0xff, 2, 16, QLatin1Char('0'))
            .arg(number & 0xff, 2, 16, QLatin1Char('0')));
    device.insert(QStringLiteral("http_Port"), index % 4 == 3 ? 8080 : 80);
    device.insert(QStringLiteral("user_account"), QString::number(8000 + number));
    device.insert(
        QStringLiteral("display_name"), QStringLiteral("Speaker %1").arg(number, 4, 10, QLatin1Char('0')));
    device.insert(QStringLiteral("sip_port"), index % 2 == 0 ? 5060 : 5062);
    return device;
}

QStringList DeviceTable::replyMembers()
{
    return { QStringLiteral("vendor_devtype_name"), QStringLiteral("custom_devtype_name"),
        QStringLiteral("dev_status"), QStringLiteral("dhcp"), QStringLiteral("ipaddr"),
        QStringLiteral("subnet_mask"), QStringLiteral("gateway"), macKey, QStringLiteral("http_Port"),
        QStringLiteral("user_account"), QStringLiteral("display_name"), QStringLiteral("sip_port") };
}

bool DeviceTable::makeIncomplete(double percent, const QString &member, QString *error)
{
    const QStringList members = replyMembers();
    if (!member.isEmpty() && !members.contains(member) && member != QLatin1String("user_devtype_name")) {
        *error = QStringLiteral("not a search reply member: ") + member;
        return false;
    }
    int picked = 0;
    for (int i = 0; i < size(); ++i) {
        if (shareOf(i + 1, percent) == shareOf(i, percent))
            continue;
        const QString key = member.isEmpty() ? members.at(picked++ % members.size()) : member;
        QStringList &omitted = m_omitted[i];
        omitted = QStringList { key };
        // A reply still counts as typed while either type name is there.
        if (member.isEmpty() && key == QLatin1String("custom_devtype_name"))
            omitted << QStringLiteral("user_devtype_name");
        m_replies[i].clear();
    }
    return true;
}

const QByteArray &DeviceTable::searchReply(int index) const
{
    QByteArray &reply = m_replies[index];
    if (reply.isEmpty()) {
        QJsonObject body = m_bodies.at(index);
        for (const QString &key : m_omitted.at(index))
            body.remove(key);
        reply = QJsonDocument(body).toJson(QJsonDocument::Compact);
    }
    return reply;
}

int DeviceTable::applyNetworkConfig(const QJsonObject &request)
{
    const QJsonValue mac = request.value(macKey);
    if (!mac.isString())
        return -1;
    const int index = indexOf(mac.toString());
    if (index < 0)
        return -1;
    QJsonObject &body = m_bodies[index];
    // Members of the wrong type are left alone, as a device would ignore them.
    const QJsonValue dhcp = request.value(QLatin1String("dhcp"));
    if (dhcp.isBool())
        body.insert(QStringLiteral("dhcp"), dhcp);
    for (const char *key : { "ipaddr", "subnet_mask", "gateway" }) {
        const QJsonValue value = request.value(QLatin1String(key));
        if (value.isString())
            body.insert(QLatin1String(key), value);
    }
    const QJsonValue port = request.value(QLatin1String("http_port"));
    const double portNumber = port.toDouble(-1);
    if (port.isDouble() && portNumber >= 0 && portNumber <= 65535 && portNumber == std::floor(portNumber))
        body.insert(QStringLiteral("http_Port"), static_cast<int>(portNumber));
    m_replies[index].clear();
    return index;
}

void DeviceTable::append(QJsonObject body)
{
    body.insert(QStringLiteral("request"), false);
    body.insert(QStringLiteral("command"), QStringLiteral("search"));
    const QJsonValue mac = body.value(macKey);
    if (mac.isString() && !m_byMac.contains(mac.toString()))
        m_byMac.insert(mac.toString(), m_bodies.size());
    m_bodies.append(body);
    m_omitted.append(QStringList());
    m_replies.append(QByteArray());
}
