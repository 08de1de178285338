#include "siteplan.h"

#include "audiodevice.h"

#include <QHash>
#include <QRegularExpression>

SiteDevice SiteDevice::from(const AudioDevice &device)
{
    SiteDevice d;
    d.mac = device.macAddr;
    d.ip = device.ipAddr;
    d.mask = device.subnetMask;
    d.gateway = device.gateway;
    d.dhcp = device.dhcp;
    d.httpPort = device.httpPort;
    d.sipAccount = device.sipAccount;
    d.sipPort = device.sipPort;
    d.name = device.displayName;
    d.type = device.typeName;
    d.vendorType = device.vendorTypeName;
    d.status = device.status;
    return d;
}

bool SiteTarget::operator==(const SiteTarget &other) const
{
    return dhcp == other.dhcp && ip == other.ip && mask == other.mask && gateway == other.gateway
        && httpPort == other.httpPort;
}

bool SiteTarget::reachedBy(const SiteDevice &device) const
{
    if (device.dhcp != dhcp || device.httpPort != httpPort)
        return false;
    // Under DHCP the server chooses the addresses.
    return dhcp || (device.ip == ip && device.mask == mask && device.gateway == gateway);
}

SiteTarget SiteTarget::of(const SiteDevice &device)
{
    return { device.dhcp, device.ip, device.mask, device.gateway, device.httpPort };
}

namespace siteplan {

namespace {

const QStringList knownColumns = { QStringLiteral("mac"), QStringLiteral("dhcp"), QStringLiteral("ip"),
    QStringLiteral("mask"), QStringLiteral("gateway"), QStringLiteral("http_port") };

QString at(int line, const QString &text)
{
    return QStringLiteral("line %1: %2").arg(line).arg(text);
}

// One record of the file: its first line and its cells.
struct Record {
    int line = 0;
    QStringList cells;
};

// RFC 4180, with the separator given: quoted cells may hold separators, quotes and line ends.
QList<Record> records(const QString &text, QChar separator)
{
    QList<Record> out;
    Record record;
    QString cell;
    bool quoted = false;
    bool wasQuoted = false;
    int line = 1;
    record.line = 1;
    auto endCell = [&] {
        record.cells << (wasQuoted ? cell : cell.trimmed());
        cell.clear();
        wasQuoted = false;
    };
    auto endRecord = [&] {
        endCell();
        const bool blank = record.cells.size() == 1 && record.cells.constFirst().isEmpty();
        if (!blank)
            out << record;
        record = Record();
        record.line = line;
    };
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"')) {
                    cell += c;
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                if (c == QLatin1Char('\n'))
                    ++line;
                cell += c;
            }
        } else if (c == QLatin1Char('"') && cell.trimmed().isEmpty()) {
            quoted = wasQuoted = true;
            cell.clear();
        } else if (c == separator) {
            endCell();
        } else if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            if (c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
            ++line;
            endRecord();
        } else {
            cell += c;
        }
    }
    if (!cell.isEmpty() || wasQuoted || !record.cells.isEmpty())
        endRecord();
    return out;
}

QChar separatorOf(const QString &text)
{
    const QString header = text.section(QLatin1Char('\n'), 0, 0);
    return header.count(QLatin1Char(';')) > header.count(QLatin1Char(',')) ? QLatin1Char(';')
                                                                           : QLatin1Char(',');
}

bool readBool(const QString &text, bool *value)
{
    const QString t = text.toLower();
    if (t == QLatin1String("yes") || t == QLatin1String("true") || t == QLatin1String("1"))
        *value = true;
    else if (t == QLatin1String("no") || t == QLatin1String("false") || t == QLatin1String("0"))
        *value = false;
    else
        return false;
    return true;
}

} // namespace

QString macKey(const QString &text)
{
    static const QRegularExpression form(QStringLiteral("\\A[0-9A-Fa-f]{2}([:-][0-9A-Fa-f]{2}){5}\\z"));
    if (!form.match(text).hasMatch())
        return QString();
    QString key = text.toUpper();
    key.remove(QLatin1Char(':'));
    key.remove(QLatin1Char('-'));
    return key;
}

bool parseQuad(const QString &text, quint32 *value)
{
    // Leading zeros read as octal in some tools: refused rather than guessed.
    static const QRegularExpression form(QStringLiteral(
        "\\A(0|[1-9][0-9]{0,2})\\.(0|[1-9][0-9]{0,2})\\.(0|[1-9][0-9]{0,2})\\.(0|[1-9][0-9]{0,2})\\z"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return false;
    quint32 result = 0;
    for (int i = 1; i <= 4; ++i) {
        const uint part = match.captured(i).toUInt();
        if (part > 255)
            return false;
        result = result << 8 | part;
    }
    if (value)
        *value = result;
    return true;
}

QString quadText(quint32 value)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(value >> 24)
        .arg(value >> 16 & 0xff)
        .arg(value >> 8 & 0xff)
        .arg(value & 0xff);
}

int prefixLength(quint32 mask)
{
    const quint32 inverted = ~mask;
    if ((inverted & (inverted + 1)) != 0)
        return -1;
    int length = 0;
    for (quint32 m = mask; m & 0x80000000u; m <<= 1)
        ++length;
    return length;
}

QList<PlanRow> read(const QByteArray &bytes, QStringList *problems)
{
    QString text = QString::fromUtf8(bytes);
    if (text.startsWith(QChar(0xfeff)))
        text.remove(0, 1);
    const QList<Record> all = records(text, separatorOf(text));
    QList<PlanRow> rows;
    if (all.isEmpty()) {
        *problems << at(1, QStringLiteral("no header row"));
        return rows;
    }
    QHash<QString, int> column;
    const Record &header = all.constFirst();
    for (int i = 0; i < header.cells.size(); ++i) {
        const QString name = header.cells.at(i).toLower();
        if (!knownColumns.contains(name))
            *problems << at(header.line, QStringLiteral("unknown column \"%1\"").arg(header.cells.at(i)));
        else if (column.contains(name))
            *problems << at(header.line, QStringLiteral("column \"%1\" twice").arg(name));
        else
            column.insert(name, i);
    }
    if (!column.contains(QStringLiteral("mac")))
        *problems << at(header.line, QStringLiteral("no \"mac\" column"));
    for (int r = 1; r < all.size(); ++r) {
        const Record &record = all.at(r);
        if (record.cells.size() > header.cells.size())
            *problems << at(record.line,
                QStringLiteral("%1 cells for %2 columns").arg(record.cells.size()).arg(header.cells.size()));
        auto cell = [&](const char *name) {
            const int i = column.value(QLatin1String(name), -1);
            return i >= 0 && i < record.cells.size() ? record.cells.at(i) : QString();
        };
        rows << PlanRow { record.line, cell("mac"), cell("dhcp"), cell("ip"), cell("mask"), cell("gateway"),
            cell("http_port") };
    }
    return rows;
}

QList<PlanStep> check(const QList<PlanRow> &rows, const QList<SiteDevice> &found, QStringList *problems)
{
    QHash<QString, int> foundByMac;
    for (int i = 0; i < found.size(); ++i)
        foundByMac.insert(macKey(found.at(i).mac), i);

    QList<PlanStep> steps;
    QHash<QString, int> macLine;
    QHash<quint32, int> addressLine;
    QSet<QString> plannedMacs;
    for (const PlanRow &row : rows) {
        PlanStep step;
        step.row = row;
        const int n = row.line;
        const QString key = macKey(row.mac);
        if (key.isEmpty()) {
            *problems << at(n, QStringLiteral("malformed MAC address \"%1\"").arg(row.mac));
        } else if (macLine.contains(key)) {
            *problems << at(
                n, QStringLiteral("MAC address %1 is also on line %2").arg(row.mac).arg(macLine[key]));
        } else {
            macLine.insert(key, n);
            plannedMacs.insert(key);
        }
        // A second row for one device changes nothing of it.
        const bool duplicate = !key.isEmpty() && macLine.value(key) != n;
        const int index = key.isEmpty() || duplicate ? -1 : foundByMac.value(key, -1);
        step.found = index >= 0;
        if (step.found) {
            step.current = found.at(index);
            step.target = SiteTarget::of(step.current);
        } else {
            step.target = SiteTarget();
        }

        bool dhcp = step.target.dhcp;
        if (!row.dhcp.isEmpty() && !readBool(row.dhcp, &dhcp))
            *problems << at(
                n, QStringLiteral("dhcp \"%1\" is none of yes/no, true/false, 1/0").arg(row.dhcp));
        step.target.dhcp = dhcp;
        const QPair<const char *, const QString *> addresses[]
            = { { "ip", &row.ip }, { "mask", &row.mask }, { "gateway", &row.gateway } };
        QString *targets[] = { &step.target.ip, &step.target.mask, &step.target.gateway };
        bool wellFormed = true;
        for (int i = 0; i < 3; ++i) {
            const QString &value = *addresses[i].second;
            if (value.isEmpty())
                continue;
            if (!parseQuad(value)) {
                *problems << at(n,
                    QStringLiteral("%1 \"%2\" is not a dotted quad")
                        .arg(QLatin1String(addresses[i].first), value));
                wellFormed = false;
            }
            *targets[i] = value;
        }
        if (!row.httpPort.isEmpty()) {
            bool ok = false;
            const int port = row.httpPort.toInt(&ok);
            if (!ok || port < 1 || port > 65535)
                *problems << at(n, QStringLiteral("http_port \"%1\" is outside 1-65535").arg(row.httpPort));
            else
                step.target.httpPort = port;
        }

        // Static addressing: the address must be one this row gives or the device already
        // holds as its own, not one a DHCP server lent it.
        // A device that was not found is static only when the row says so or gives an address.
        const bool isStatic = !dhcp && (step.found || !row.dhcp.isEmpty() || !row.ip.isEmpty());
        const bool keepsLeasedAddress = step.found && step.current.dhcp && row.ip.isEmpty();
        if (isStatic && (step.target.ip.isEmpty() || keepsLeasedAddress)) {
            *problems << at(n, QStringLiteral("static addressing but no address"));
        } else if (isStatic && wellFormed) {
            quint32 ip = 0, mask = 0, gateway = 0;
            const bool haveIp = parseQuad(step.target.ip, &ip);
            const bool haveMask = parseQuad(step.target.mask, &mask);
            const int prefix = haveMask ? prefixLength(mask) : -1;
            if (haveMask && prefix < 0)
                *problems << at(n, QStringLiteral("mask %1 is not contiguous").arg(step.target.mask));
            if (haveIp && prefix >= 0 && prefix < 31) {
                if ((ip & ~mask) == 0)
                    *problems << at(n,
                        QStringLiteral("%1 is the network address of its subnet /%2")
                            .arg(step.target.ip)
                            .arg(prefix));
                else if ((ip & ~mask) == ~mask)
                    *problems << at(n,
                        QStringLiteral("%1 is the broadcast address of its subnet /%2")
                            .arg(step.target.ip)
                            .arg(prefix));
            }
            if (haveIp && prefix >= 0 && parseQuad(step.target.gateway, &gateway) && gateway != 0
                && (gateway & mask) != (ip & mask))
                *problems << at(n,
                    QStringLiteral("gateway %1 is outside %2/%3")
                        .arg(step.target.gateway, quadText(ip & mask))
                        .arg(prefix));
            if (haveIp) {
                if (addressLine.contains(ip))
                    *problems << at(n,
                        QStringLiteral("address %1 is also on line %2")
                            .arg(step.target.ip)
                            .arg(addressLine[ip]));
                else
                    addressLine.insert(ip, n);
            }
        }
        steps << step;
    }

    // An address may be planned only when the device holding it moves away.
    for (const PlanStep &step : qAsConst(steps)) {
        if (step.target.dhcp)
            continue;
        for (const SiteDevice &device : found) {
            const QString key = macKey(device.mac);
            if (device.ip == step.target.ip && key != macKey(step.row.mac) && !plannedMacs.contains(key))
                *problems << at(step.row.line,
                    QStringLiteral("address %1 is held by %2, which the plan does not move")
                        .arg(step.target.ip, device.mac));
        }
    }
    return steps;
}

QStringList allocate(const QString &first, const QString &mask, const QString &gateway, int count,
    const QSet<quint32> &taken, QString *error)
{
    quint32 address = 0, netmask = 0, router = 0;
    if (!parseQuad(first, &address) || !parseQuad(mask, &netmask) || !parseQuad(gateway, &router)) {
        *error = QStringLiteral("--first, --mask and --gateway need dotted quads");
        return {};
    }
    const int prefix = prefixLength(netmask);
    if (prefix < 0 || prefix > 30) {
        *error = QStringLiteral("mask %1 is not a contiguous mask of a subnet with hosts").arg(mask);
        return {};
    }
    if ((router & netmask) != (address & netmask)) {
        *error = QStringLiteral("gateway %1 is outside %2/%3")
                     .arg(gateway, quadText(address & netmask))
                     .arg(prefix);
        return {};
    }
    const quint32 network = address & netmask;
    const quint32 broadcast = network | ~netmask;
    QStringList out;
    for (quint32 a = address; out.size() < count; ++a) {
        if (a > broadcast || a < address) {
            *error = QStringLiteral("%1/%2 has no room for %3 devices from %4")
                         .arg(quadText(network))
                         .arg(prefix)
                         .arg(count)
                         .arg(first);
            return {};
        }
        if (a == network || a == broadcast || a == router || taken.contains(a))
            continue;
        out << quadText(a);
    }
    return out;
}

} // namespace siteplan
