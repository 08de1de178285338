#pragma once

#include <QObject>
#include <QString>

// One device as a search reply, a table row and the saved list describe it.
// A plain carrier of values: records never get a Qt parent and have one owner each.
class AudioDevice : public QObject {
    Q_OBJECT

public:
    explicit AudioDevice(QObject *parent = nullptr);
    AudioDevice(const AudioDevice &other);
    ~AudioDevice() override;

    AudioDevice &operator=(const AudioDevice &) = delete;

    QString sipAccount;
    int sipPort = 0;
    QString displayName;
    QString vendorTypeName;
    QString typeName;
    int status = 0;
    bool dhcp = false;
    QString ipAddr;
    QString subnetMask;
    QString gateway;
    QString macAddr;
    int httpPort = 0;
};
