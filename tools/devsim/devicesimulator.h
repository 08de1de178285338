#pragma once

#include "datagramrecorder.h"
#include "devicetable.h"
#include "simulatoroptions.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPair>
#include <QRandomGenerator>
#include <QSet>

class QHostAddress;
class QJsonObject;
class QNetworkDatagram;
class QTextCodec;
class QUdpSocket;
class ReplyScheduler;

// Answers search and config_net requests on behalf of every simulated device.
class DeviceSimulator : public QObject {
    Q_OBJECT

public:
    explicit DeviceSimulator(const SimulatorOptions &options, QObject *parent = nullptr);

    // Loads the devices, opens the record file, binds and joins; false with a reason on error.
    bool start(QString *error);
    QStringList joinedInterfaces() const
    {
        return m_joined;
    }
    QString statistics() const;

private:
    bool loadDevices(QString *error);
    bool loadTrailers(QString *error);
    bool openSocket(QString *error);
    void readPendingDatagrams();
    void handleDatagram(const QNetworkDatagram &datagram);
    void answerSearch(const QJsonObject &request, const QHostAddress &address, quint16 port);
    void answerConfigNet(const QJsonObject &request, const QHostAddress &address, quint16 port);
    void sendScheduled(int item, const QHostAddress &address, quint16 port);
    void send(const QByteArray &payload, const QHostAddress &address, quint16 port);
    QByteArray encoded(const QByteArray &utf8Json) const;
    void log(const QString &line) const;

    SimulatorOptions m_options;
    QElapsedTimer m_clock;
    QRandomGenerator m_random;
    DeviceTable m_devices;
    QVector<QByteArray> m_extras;
    // Bytes some devices send after their JSON text, by device index.
    QHash<int, QByteArray> m_trailers;
    // Devices deaf to config_net, and how many config_net replies each device still loses.
    QSet<int> m_ignoringConfig;
    QHash<int, int> m_configRepliesToDrop;
    DatagramRecorder m_recorder;
    QUdpSocket *m_socket;
    ReplyScheduler *m_scheduler;
    QTextCodec *m_codec = nullptr;
    QStringList m_joined;
    QSet<uint> m_joinedIndexes;
    qint64 m_firstAnswerAt = -1;
    QSet<QPair<QString, quint16>> m_deferredSources;
    qint64 m_received = 0;
    qint64 m_sent = 0;
    qint64 m_dropped = 0;
    qint64 m_sendFailures = 0;
};
