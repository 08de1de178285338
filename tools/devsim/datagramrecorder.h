#pragma once

#include <QFile>
#include <QString>

class QNetworkDatagram;

// Writes one JSON line per received datagram, flushed at once so a test can
// read the file while the simulator runs.
class DatagramRecorder {
public:
    bool open(const QString &path, QString *error);
    bool isOpen() const
    {
        return m_file.isOpen();
    }
    void record(double timeMs, const QNetworkDatagram &datagram);

private:
    QFile m_file;
};
