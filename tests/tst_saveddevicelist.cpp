// The saved device list: reading devlist.json, writing it back, and keeping it whole when that fails.

#include "audiodevice.h"
#include "saveddevicelist.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "logcapture.h"

#ifdef Q_OS_UNIX
#include <csignal>
#include <functional>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

const QString written = QStringLiteral("JSON data written to file successfully.");
const QString openFailed = QStringLiteral("Failed to open file for writing.");

// The list is written in text mode, so Windows ends its lines with CR LF.
#ifdef Q_OS_WIN
const QByteArray lineEnd = "\r\n";
#else
const QByteArray lineEnd = "\n";
#endif

// The bytes of a file written in text mode, given with plain line feeds.
QByteArray textFile(QByteArray bytes)
{
    return bytes.replace('\n', lineEnd);
}

#ifdef Q_OS_UNIX

// Caps the size of files this process writes, so that a write fails part way.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit limit = saved;
        limit.rlim_cur = bytes;
        active = setrlimit(RLIMIT_FSIZE, &limit) == 0;
        // Otherwise the kernel kills the process instead of failing the write.
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGXFSZ, &ignore, &savedAction);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved);
        sigaction(SIGXFSZ, &savedAction, nullptr);
    }
    bool active = false;

private:
    rlimit saved = {};
    struct sigaction savedAction = {};
};

// Runs work in a child process as an ordinary user (nobody, when this is root), so
// that permission bits hold; returns the debug lines it logged, or a failure text.
QStringList runUnprivileged(const std::function<void()> &work)
{
    int channel[2];
    if (pipe(channel) != 0)
        return { QStringLiteral("<no pipe>") };
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(3);
        QStringList lines;
        {
            LogCapture log;
            work();
            lines = log.lines();
        }
        const QByteArray bytes = lines.join(QLatin1Char('\n')).toUtf8();
        const bool sent = write(channel[1], bytes.constData(), size_t(bytes.size())) == bytes.size();
        _exit(sent ? 0 : 4);
    }
    close(channel[1]);
    QByteArray received;
    char buffer[4096];
    for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;)
        received.append(buffer, int(n));
    close(channel[0]);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return { QStringLiteral("<child failed: %1>").arg(status) };
    return QString::fromUtf8(received).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}
#endif

QByteArray readData(const QString &name)
{
    QFile file(QStringLiteral(VARNITT_TEST_DATA "/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing test data %s", qPrintable(name));
    return file.readAll();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QStringList records(const SavedDeviceList &list)
{
    QStringList result;
    for (const AudioDevice *device : list.devices)
        result << QStringLiteral("%1|%2|%3|%4")
                      .arg(device->displayName, device->ipAddr, device->sipAccount)
                      .arg(device->sipPort);
    return result;
}

} // namespace

class TestSavedDeviceList : public QObject {
    Q_OBJECT

private slots:
    void init();
    void roundTrip_data();
    void roundTrip();
    void unreadableFile_data();
    void unreadableFile();
    void unwritableLocation_data();
    void unwritableLocation();
    // These need a child process as another user and a file size limit: Linux only.
    void readOnlyFolder_data();
    void readOnlyFolder();
    void failedWriteKeepsOldFile();
    void reloadReplacesRecords();
    void noPathWritesNothing();

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString path;
};

void TestSavedDeviceList::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    path = dir->filePath(QStringLiteral("devlist.json"));
}

void TestSavedDeviceList::roundTrip_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QStringList>("loaded");
    QTest::addColumn<QByteArray>("output");

    QTest::newRow("one record")
        << QByteArray(R"([{"sipPort":5060,"sipAccount":"1001","name":"Lobby","ipAddr":"198.51.100.7"}])")
        << QStringList { "Lobby|198.51.100.7|1001|5060" }
        << QByteArray("[\n    {\n        \"ipAddr\": \"198.51.100.7\",\n        \"name\": \"Lobby\",\n"
                      "        \"sipAccount\": \"1001\",\n        \"sipPort\": 5060\n    }\n]\n");
    QTest::newRow("two records in order")
        << readData("devlist-two.json")
        << QStringList { "Lobby|198.51.100.7|1001|5060", "Hall|198.51.100.8|1002|5062" }
        << readData("devlist-two.expected.json");
    QTest::newRow("extra keys, other elements, odd values")
        << readData("devlist-mixed.json")
        << QStringList { "Lobby|198.51.100.7|1001|5060", "port text|||0", "port fraction|||0",
               "port huge|||0", "port 2^31|||0", "port negative|||-1", "|||0", "|||0",
               "会议室|198.51.100.9||0" }
        << readData("devlist-mixed.expected.json");
    QTest::newRow("CR LF line ends")
        << QByteArray("[\r\n  {\"name\": \"Lobby\",\r\n   \"sipPort\": 5060}\r\n]\r\n")
        << QStringList { "Lobby|||5060" }
        << QByteArray("[\n    {\n        \"ipAddr\": \"\",\n        \"name\": \"Lobby\",\n"
                      "        \"sipAccount\": \"\",\n        \"sipPort\": 5060\n    }\n]\n");
    QTest::newRow("already in the saved form")
        << textFile(readData("devlist-two.expected.json"))
        << QStringList { "Lobby|198.51.100.7|1001|5060", "Hall|198.51.100.8|1002|5062" }
        << readData("devlist-two.expected.json");
    QTest::newRow("empty array") << QByteArray("[]") << QStringList() << QByteArray("[\n]\n");
    QTest::newRow("array without objects")
        << QByteArray(R"([1, "x", null, [{}]])") << QStringList() << QByteArray("[\n]\n");
}

void TestSavedDeviceList::roundTrip()
{
    QFETCH(QByteArray, input);
    QFETCH(QStringList, loaded);
    QFETCH(QByteArray, output);

    QVERIFY(writeFile(path, input));
    // Only a rewrite moves the file's time: a list already saved is left alone.
    const QDateTime yesterday = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch() - 86400);
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite)
            && file.setFileTime(yesterday, QFileDevice::FileModificationTime));
    }
    LogCapture log;
    {
        SavedDeviceList list;
        list.load(path);
        QCOMPARE(list.filePath, path);
        QCOMPARE(records(list), loaded);
        QCOMPARE(log.lines(), QStringList());
    }
    QCOMPARE(log.lines(), QStringList { written });
    QCOMPARE(readFile(path), textFile(output));
    QCOMPARE(QFileInfo(path).lastModified() == yesterday, input == textFile(output));
}

void TestSavedDeviceList::unreadableFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("loadLine");

    QTest::newRow("missing file") << "none" << QByteArray() << "无法打开文件";
    QTest::newRow("empty file") << "file" << QByteArray() << "无法解析 JSON 数据";
    QTest::newRow("not JSON") << "file" << QByteArray(R"([{"name": "Lobby",)") << "无法解析 JSON 数据";
    QTest::newRow("object at top level")
        << "file" << QByteArray(R"({"name": "Lobby", "sipPort": 5060})") << "JSON 数据不是数组";
    // Exists, yet cannot be opened as a file even by root.
    QTest::newRow("directory at the path") << "directory" << QByteArray() << "无法打开文件";
}

void TestSavedDeviceList::unreadableFile()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, content);
    QFETCH(QString, loadLine);

    if (kind == "file")
        QVERIFY(writeFile(path, content));
    else if (kind == "directory")
        QVERIFY(QDir().mkdir(path));

    LogCapture log;
    {
        SavedDeviceList list;
        list.load(path);
        QCOMPARE(log.lines(), QStringList { loadLine });
        QVERIFY(list.devices.isEmpty());
        QCOMPARE(list.filePath, path);
    }
    const QStringList lines = log.lines();
    QCOMPARE(lines.size(), 2);
    if (kind == "none") {
        QCOMPARE(lines.at(1), written);
        QCOMPARE(readFile(path), textFile("[\n]\n"));
        return;
    }
    // Something was there that this program cannot read: it stays as it was.
    QVERIFY2(lines.at(1) != written && lines.at(1) != openFailed && lines.at(1).contains(path),
        qPrintable(lines.at(1)));
    if (kind == "directory")
        QVERIFY(QFileInfo(path).isDir() && QDir(path).isEmpty());
    else
        QCOMPARE(readFile(path), content);
    QCOMPARE(
        QDir(dir->path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList { "devlist.json" });
}

void TestSavedDeviceList::unwritableLocation_data()
{
    QTest::addColumn<bool>("parentIsFile");

    // Permission bits do not stop root, so the parent itself is what cannot hold the file.
    QTest::newRow("parent directory missing") << false;
    QTest::newRow("parent is a regular file") << true;
}

void TestSavedDeviceList::unwritableLocation()
{
    QFETCH(bool, parentIsFile);

    const QString parent = dir->filePath(QStringLiteral("parent"));
    if (parentIsFile)
        QVERIFY(writeFile(parent, "plain"));
    const QString target = parent + QStringLiteral("/devlist.json");

    LogCapture log;
    {
        SavedDeviceList list;
        list.load(target);
        list.devices.append(new AudioDevice);
    }
    QCOMPARE(log.lines(), (QStringList { "无法打开文件", openFailed }));
    QCOMPARE(QFileInfo::exists(parent), parentIsFile);
    if (parentIsFile)
        QCOMPARE(readFile(parent), QByteArray("plain"));
    QCOMPARE(
        QDir(dir->path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size(), parentIsFile ? 1 : 0);
}

void TestSavedDeviceList::readOnlyFolder_data()
{
    QTest::addColumn<bool>("fileExists");
    QTest::addColumn<int>("sizeLimit"); // 0: none; negative: that limit, with the list unchanged
    QTest::addColumn<QStringList>("lines");
    // A shared install folder with a writable list: written in place.
    QTest::newRow("writable file") << true << 0 << QStringList { written };
    // Written in place, a failed write cannot keep the old list, and must not claim success.
    QTest::newRow("writable file, write fails part way")
        << true << 16 << QStringList { "Failed to write file in place." };
    // Unchanged, it is not written at all, so the failing write cannot happen.
    QTest::newRow("writable file holding the list, a write would fail")
        << true << -16 << QStringList { written };
    // An installed program's folder without a list: nothing to write to.
    QTest::newRow("no file") << false << 0 << QStringList { "无法打开文件", openFailed };
}

void TestSavedDeviceList::readOnlyFolder()
{
#ifndef Q_OS_UNIX
    QSKIP("needs a second, unprivileged user, and Wine lets every user write everywhere; the installer "
          "check starts the installed program from a read-only folder instead");
#else
    QFETCH(bool, fileExists);
    QFETCH(int, sizeLimit);
    QFETCH(QStringList, lines);

    const QString folder = dir->filePath(QStringLiteral("site"));
    const QString target = folder + QStringLiteral("/devlist.json");
    QVERIFY(QDir().mkdir(folder));
    const bool unchanged = sizeLimit < 0;
    sizeLimit = qAbs(sizeLimit);
    const QByteArray before = readData(unchanged ? "devlist-two.expected.json" : "devlist-two.json");
    if (fileExists) {
        QVERIFY(writeFile(target, before));
        QVERIFY(QFile::setPermissions(target,
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                | QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther));
    }
    const QFileDevice::Permissions readAndSearch = QFileDevice::ReadOwner | QFileDevice::ExeOwner
        | QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;
    QVERIFY(QFile::setPermissions(dir->path(), readAndSearch | QFileDevice::WriteOwner));
    QVERIFY(QFile::setPermissions(folder, readAndSearch));

    const QStringList logged = runUnprivileged([&target, sizeLimit, unchanged] {
        SavedDeviceList list;
        list.load(target);
        // The list changes, so an unchanged file would show the write was skipped.
        if (!unchanged)
            list.devices.append(new AudioDevice);
        if (sizeLimit > 0) {
            FileSizeLimit limit { rlim_t(sizeLimit) };
            if (!limit.active)
                qDebug() << "<no file size limit>";
            list.save();
            list.filePath.clear(); // nothing more to write when the list goes
        }
    });
    QVERIFY(QFile::setPermissions(folder, readAndSearch | QFileDevice::WriteOwner));

    QCOMPARE(logged, lines);
    QCOMPARE(QDir(folder).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
        fileExists ? QStringList { "devlist.json" } : QStringList());
    if (fileExists && sizeLimit == 0)
        QVERIFY(readFile(target).endsWith("\"sipPort\": 0\n    }\n]\n"));
    if (unchanged)
        QCOMPARE(readFile(target), before);
#endif
}

void TestSavedDeviceList::failedWriteKeepsOldFile()
{
#ifndef Q_OS_UNIX
    QSKIP("needs a limit on the size of written files (RLIMIT_FSIZE), which Windows does not have");
#else
    const QByteArray old = readData("devlist-two.json");
    QVERIFY(writeFile(path, old));

    LogCapture log;
    {
        FileSizeLimit limit(16);
        QVERIFY(limit.active);
        SavedDeviceList list;
        list.load(path);
        QCOMPARE(list.devices.size(), 2);
    }
    const QStringList lines = log.lines();
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.first() != written, "success logged for a write that failed");
    QCOMPARE(readFile(path), old);
    // No partial or temporary file is left beside it.
    QCOMPARE(
        QDir(dir->path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList { "devlist.json" });
#endif
}

void TestSavedDeviceList::reloadReplacesRecords()
{
    const QString other = dir->filePath(QStringLiteral("other.json"));
    QVERIFY(writeFile(path, readData("devlist-two.json")));
    QVERIFY(writeFile(other, R"([{"name": "Hall", "sipPort": 5062}])"));

    LogCapture quiet;
    SavedDeviceList list;
    list.load(path);
    list.load(other);
    QCOMPARE(records(list), QStringList { "Hall|||5062" });
    QCOMPARE(list.filePath, other);
    list.deleteAll();
    QVERIFY(list.devices.isEmpty());
}

void TestSavedDeviceList::noPathWritesNothing()
{
    LogCapture log;
    {
        SavedDeviceList list;
        list.save();
    }
    QCOMPARE(log.lines(), QStringList());
}

QTEST_GUILESS_MAIN(TestSavedDeviceList)
#include "tst_saveddevicelist.moc"
