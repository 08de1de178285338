#include "saveddevicelist.h"

#include "audiodevice.h"
#include "jsonint.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

SavedDeviceList::SavedDeviceList() = default;

SavedDeviceList::~SavedDeviceList()
{
    save();
    deleteAll();
}

void SavedDeviceList::load(const QString &path)
{
    // Remember the path first: the exit-time save goes there even when reading fails.
    filePath = path;
    keepExistingFile = false;

    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qDebug() << "无法打开文件";
        keepExistingFile = file.exists();
        return;
    }
    const QByteArray data = file.readAll();
    file.close();

    const QJsonDocument doc = QJsonDocument::fromJson(data);
    if (doc.isNull()) {
        qDebug() << "无法解析 JSON 数据";
        keepExistingFile = true;
        return;
    }
    if (!doc.isArray()) {
        qDebug() << "JSON 数据不是数组";
        keepExistingFile = true;
        return;
    }

    deleteAll();
    const QJsonArray array = doc.array();
    for (const QJsonValue &element : array) {
        if (!element.isObject())
            continue;
        const QJsonObject object = element.toObject();
        auto *device = new AudioDevice;
        device->displayName = object.value(QLatin1String("name")).toString();
        device->ipAddr = object.value(QLatin1String("ipAddr")).toString();
        device->sipAccount = object.value(QLatin1String("sipAccount")).toString();
        device->sipPort = jsonWholeInt(object.value(QLatin1String("sipPort")));
        devices.append(device);
    }
}

void SavedDeviceList::save()
{
    if (filePath.isEmpty())
        return;
    if (keepExistingFile) {
        qDebug() << "Existing file left unchanged because it could not be read:" << filePath;
        return;
    }

    QJsonArray array;
    for (const AudioDevice *device : qAsConst(devices)) {
        QJsonObject object;
        object.insert(QLatin1String("name"), device->displayName);
        object.insert(QLatin1String("ipAddr"), device->ipAddr);
        object.insert(QLatin1String("sipAccount"), device->sipAccount);
        object.insert(QLatin1String("sipPort"), device->sipPort);
        array.append(object);
    }
    const QByteArray bytes = QJsonDocument(array).toJson();
    // An unchanged list leaves the file alone, so that a write that fails (a full disk, an
    // administrator's list written in place) cannot cost a list that was already saved.
    if (fileHolds(bytes)) {
        qDebug() << "JSON data written to file successfully.";
        return;
    }

    // Written beside the old file and renamed over it, so a failed or
    // interrupted write never leaves a truncated list behind.
    QSaveFile file(filePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        // A writable file in a folder the user may not write (an installed program's) is
        // written in place. Qt 5's own fallback for this exists on Unix only, and it
        // reports a failed write as success.
        if (QFileInfo(filePath).isFile())
            writeInPlace(bytes);
        else
            qDebug() << "Failed to open file for writing.";
        return;
    }
    // QSaveFile does not notice a short final write by itself (a full disk, a size limit).
    if (file.write(bytes) != bytes.size() || !file.flush())
        file.cancelWriting();
    if (!file.commit()) {
        qDebug() << "Failed to write file; the previous file is kept:" << file.errorString();
        return;
    }
    qDebug() << "JSON data written to file successfully.";
}

bool SavedDeviceList::fileHolds(QByteArray bytes) const
{
#ifdef Q_OS_WIN
    // As text mode writes it.
    bytes.replace('\n', "\r\n");
#endif
    QFile file(filePath);
    return file.size() == bytes.size() && file.open(QIODevice::ReadOnly) && file.readAll() == bytes;
}

void SavedDeviceList::writeInPlace(const QByteArray &bytes) const
{
    QFile file(filePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        qDebug() << "Failed to open file for writing.";
        return;
    }
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        qDebug() << "Failed to write file in place.";
        return;
    }
    qDebug() << "JSON data written to file successfully.";
}

void SavedDeviceList::deleteAll()
{
    qDeleteAll(devices);
    devices.clear();
}
