#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class AudioDevice;

// The device list kept in devlist.json beside the executable: read once at
// start-up, written back when the list is destroyed.
class SavedDeviceList {
public:
    SavedDeviceList();
    ~SavedDeviceList();

    SavedDeviceList(const SavedDeviceList &) = delete;
    SavedDeviceList &operator=(const SavedDeviceList &) = delete;

    void load(const QString &path);
    void save();
    void deleteAll();

    // Owned; in file order.
    QList<AudioDevice *> devices;
    QString filePath;

private:
    // True when the file already holds these bytes as the text-mode write would lay them down.
    bool fileHolds(QByteArray bytes) const;
    void writeInPlace(const QByteArray &bytes) const;

    // Set when the file exists but could not be read as a list, so that the
    // exit-time save does not replace it with an empty one.
    bool keepExistingFile = false;
};
