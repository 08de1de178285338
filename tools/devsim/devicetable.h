#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>

// The simulated devices: their search-reply bodies, kept serialised because
// thousands of replies may leave for every request.
class DeviceTable {
public:
    bool loadFile(const QString &path, QString *error);
    void generate(int count);
    // Leaves one member out of the replies of percent of the devices, spread evenly;
    // an empty member picks a different one per device.
    bool makeIncomplete(double percent, const QString &member, QString *error);

    int size() const
    {
        return m_bodies.size();
    }
    QJsonObject body(int index) const
    {
        return m_bodies.at(index);
    }
    const QByteArray &searchReply(int index) const;
    // The index of the first device with this MAC address, or -1.
    int indexOf(const QString &mac) const
    {
        return m_byMac.value(mac, -1);
    }

    // Applies the network members of a config_net request to the device it names;
    // returns that device's index, or -1 when no device has its MAC address.
    int applyNetworkConfig(const QJsonObject &request);

    static QJsonObject generatedDevice(int index);
    static QStringList replyMembers();

private:
    void append(QJsonObject body);

    QVector<QJsonObject> m_bodies;
    QVector<QStringList> m_omitted;
    mutable QVector<QByteArray> m_replies;
    QHash<QString, int> m_byMac;
};
