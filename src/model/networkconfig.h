#pragma once

#include <QObject>
#include <QString>

// The values of one config_net request, carried from the form to the sender.
class NetworkConfig : public QObject {
    Q_OBJECT

public:
    explicit NetworkConfig(QObject *parent = nullptr);
    ~NetworkConfig() override;

    bool dhcp = false;
    QString ipAddr;
    QString subnetMask;
    QString gateway;
    QString macAddr;
    int httpPort = 0;
};
