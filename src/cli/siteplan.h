#pragma once

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

class AudioDevice;

// One device as a search reported it, as a plain value.
struct SiteDevice {
    QString mac;
    QString ip;
    QString mask;
    QString gateway;
    bool dhcp = false;
    int httpPort = 0;
    QString sipAccount;
    int sipPort = 0;
    QString name;
    QString type;
    QString vendorType;
    int status = 0;

    static SiteDevice from(const AudioDevice &device);
};

// The network values a device is to have.
struct SiteTarget {
    bool dhcp = false;
    QString ip;
    QString mask;
    QString gateway;
    int httpPort = 0;

    bool operator==(const SiteTarget &other) const;
    // What the device reports, compared as far as the target fixes it (no addresses under DHCP).
    bool reachedBy(const SiteDevice &device) const;
    static SiteTarget of(const SiteDevice &device);
};

// One row of a plan file; empty values keep the device's.
struct PlanRow {
    int line = 0;
    QString mac;
    QString dhcp;
    QString ip;
    QString mask;
    QString gateway;
    QString httpPort;
};

// A plan row matched with the search: what the device has and is to have.
struct PlanStep {
    PlanRow row;
    bool found = false;
    SiteDevice current;
    SiteTarget target;
    bool changes() const
    {
        return found && !(target == SiteTarget::of(current));
    }
};

namespace siteplan {

// The MAC address as twelve upper-case hex digits, whatever its case and separator
// (':' or '-'); empty when it is not one.
QString macKey(const QString &text);
// An IPv4 address in strict dotted-quad form; false for anything else.
bool parseQuad(const QString &text, quint32 *value = nullptr);
QString quadText(quint32 value);
// The prefix length of a contiguous mask, or -1.
int prefixLength(quint32 mask);

// Reads the rows of a plan file (a byte-order mark, CR LF, quoted cells and ';' as
// the separator accepted); problems are added with their line numbers.
QList<PlanRow> read(const QByteArray &bytes, QStringList *problems);

// Matches the rows with the devices found and checks the whole plan.
QList<PlanStep> check(const QList<PlanRow> &rows, const QList<SiteDevice> &found, QStringList *problems);

// Addresses for count devices counted up from first, skipping the subnet's network and
// broadcast addresses, the gateway and taken; empty with a reason when they run out.
QStringList allocate(const QString &first, const QString &mask, const QString &gateway, int count,
    const QSet<quint32> &taken, QString *error);

} // namespace siteplan
