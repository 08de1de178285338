// SavedDeviceList: load arbitrary file content, save it, and load the saved file back.

#include "audiodevice.h"
#include "fuzzsupport.h"
#include "saveddevicelist.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

namespace {

// Every file of the run lives here, and goes with it when the run ends normally.
QTemporaryDir &workDir()
{
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/varnitt-fuzz-savedlist-XXXXXX"));
    return dir;
}

QString inputPath;
QString roundTripPath;

void compareRecords(const SavedDeviceList &first, const SavedDeviceList &second)
{
    if (first.devices.size() != second.devices.size())
        fuzzsupport::fail("record count changed by save and load",
            QStringLiteral("loaded %1, reloaded %2").arg(first.devices.size()).arg(second.devices.size()));
    for (int i = 0; i < first.devices.size(); ++i) {
        const AudioDevice *a = first.devices.at(i);
        const AudioDevice *b = second.devices.at(i);
        const auto differ = [i](const char *member, const QString &x, const QString &y) {
            fuzzsupport::fail("a member changed by save and load",
                QStringLiteral("record %1, %2: [%3] became [%4]").arg(i).arg(QLatin1String(member), x, y));
        };
        if (a->displayName != b->displayName)
            differ("displayName", a->displayName, b->displayName);
        if (a->ipAddr != b->ipAddr)
            differ("ipAddr", a->ipAddr, b->ipAddr);
        if (a->sipAccount != b->sipAccount)
            differ("sipAccount", a->sipAccount, b->sipAccount);
        if (a->sipPort != b->sipPort)
            differ("sipPort", QString::number(a->sipPort), QString::number(b->sipPort));
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler(fuzzsupport::discardMessages);
    if (!workDir().isValid()) {
        std::fprintf(stderr, "fuzz_savedlist: cannot create a temporary directory: %s\n",
            workDir().errorString().toUtf8().constData());
        std::exit(2);
    }
    inputPath = workDir().filePath(QStringLiteral("input.json"));
    roundTripPath = workDir().filePath(QStringLiteral("roundtrip.json"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QFile input(inputPath);
    if (!input.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || input.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
        fuzzsupport::fail("cannot write the input file", input.errorString());
    input.close();
    // A file left by an earlier input would stand in for a save that wrote nothing.
    QFile::remove(roundTripPath);

    SavedDeviceList first;
    first.load(inputPath);
    // save() writes to the remembered path; send it to the second file.
    first.filePath = roundTripPath;
    first.save();

    SavedDeviceList second;
    second.load(roundTripPath);
    compareRecords(first, second);
    // The destructors save again, into the same work directory.
    return 0;
}
