#include "devsimprocess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

namespace {

#ifndef Q_OS_WIN
QString onLanSide()
{
    return qEnvironmentVariable("VARNITT_ON_LAN_SIDE");
}
#else
// Wine shows the Linux file system as drive Z:.
QString brokerDirectory()
{
    const QString unixPath = qEnvironmentVariable("VARNITT_BROKER_DIR");
    return unixPath.isEmpty() ? QString() : QStringLiteral("Z:") + unixPath;
}

// Like QProcess's own waits, handles no events meanwhile; false if the deadline passed first.
template<typename Condition> bool pollUntil(Condition done, const QDeadlineTimer &deadline)
{
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(5);
    }
    return true;
}
#endif

} // namespace

#ifdef Q_OS_WIN

DevSimProcess::DevSimProcess(QObject *parent) : QObject(parent) {}

DevSimProcess::~DevSimProcess()
{
    // The request goes first: the broker must never find one in a folder being removed.
    if (!m_directory || withdrawRequest())
        return;
    if (isRunning() && !stop(1000)) {
        askBroker("kill");
        pollUntil([this] { return !isRunning(); }, QDeadlineTimer(1000));
    }
}

bool DevSimProcess::harnessPresent()
{
    // The folder outlives a broker that died; the process its pid file names must be the broker.
    if (brokerDirectory().isEmpty())
        return false;
    QFile pidFile(brokerDirectory() + QStringLiteral("/broker.pid"));
    if (!pidFile.open(QIODevice::ReadOnly))
        return false;
    bool valid = false;
    const qint64 pid = pidFile.readAll().trimmed().toLongLong(&valid);
    if (!valid || pid <= 0)
        return false;
    QFile commandLine(QStringLiteral("Z:/proc/%1/cmdline").arg(pid));
    return commandLine.open(QIODevice::ReadOnly) && commandLine.readAll().contains("devsim-broker.py");
}

#else

DevSimProcess::DevSimProcess(QObject *parent) : QObject(parent), m_process(new QProcess(this))
{
    // Forwarded so that the simulator's complaints show in the test log.
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

DevSimProcess::~DevSimProcess()
{
    if (isRunning() && !stop(1000)) {
        m_process->kill();
        m_process->waitForFinished(1000);
    }
}

bool DevSimProcess::harnessPresent()
{
    const QString ns = lanNamespace();
    return !ns.isEmpty() && QFileInfo::exists(ns) && QFileInfo(onLanSide()).isExecutable();
}

#endif

QString DevSimProcess::lanNamespace()
{
    return qEnvironmentVariable("VARNITT_LAN_NS");
}

bool DevSimProcess::start(const QStringList &arguments, int timeoutMs)
{
    if (isRunning()) {
        m_error = QStringLiteral("already running");
        return false;
    }
    if (!m_directory) {
#ifdef Q_OS_WIN
        // Without a broker the folder would land in the root of drive Z:, the host's /.
        if (!harnessPresent()) {
            m_error = QStringLiteral("no live simulator broker (tests/windows/wine-run.sh --broker)");
            return false;
        }
        m_directory.reset(new QTemporaryDir(brokerDirectory() + QStringLiteral("/devsim-XXXXXX")));
#else
        m_directory.reset(new QTemporaryDir);
#endif
    }
    if (!m_directory->isValid()) {
        m_error = QStringLiteral("no temporary directory: ") + m_directory->errorString();
        m_directory.reset();
        return false;
    }
    QFile::remove(recordPath());
    QStringList command = QStringList { QStringLiteral(VARNITT_DEVSIM) } + arguments;
    // The simulator answers only where it is told to; the LAN's device end unless a test says otherwise.
    if (!arguments.contains(QLatin1String("--interface")))
        command << QStringLiteral("--interface") << qEnvironmentVariable("VARNITT_LAN_IF");
#ifdef Q_OS_WIN
    return startThroughBroker(command.mid(1), timeoutMs);
#else
    m_process->start(onLanSide(), command + QStringList { QStringLiteral("--record"), recordPath() });
    if (!m_process->waitForStarted(timeoutMs)) {
        m_error = QStringLiteral("cannot start: ") + m_process->errorString();
        return false;
    }
    QByteArray output;
    const QDeadlineTimer deadline(timeoutMs);
    while (!output.contains("ready\n")) {
        if (m_process->state() != QProcess::Running
            || !m_process->waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
            m_error = QStringLiteral("no \"ready\" from the simulator; it printed: ")
                + QString::fromLocal8Bit(output + m_process->readAllStandardOutput());
            m_process->kill();
            m_process->waitForFinished(1000);
            return false;
        }
        output += m_process->readAllStandardOutput();
    }
    return true;
#endif
}

#ifdef Q_OS_WIN

bool DevSimProcess::startThroughBroker(const QStringList &arguments, int timeoutMs)
{
    QStringList request = arguments;
    // The broker hands Windows paths on as the Linux paths of the same files.
    request << QStringLiteral("--record") << recordPath();
    // The last run's files; the broker takes each request once, so none of them restarts it.
    for (const char *stale : { "args", "args.taken", "out", "exit", "stop", "kill" })
        QFile::remove(m_directory->filePath(QLatin1String(stale)));
    // Written aside and renamed, so the broker never reads half a request.
    QFile file(m_directory->filePath(QStringLiteral("args.part")));
    if (!file.open(QIODevice::WriteOnly)
        || file.write((request.join(QLatin1Char('\n')) + '\n').toUtf8()) < 0) {
        m_error = QStringLiteral("cannot write the request: ") + file.errorString();
        return false;
    }
    file.close();
    // Under Wine this rename has failed once in many runs for no reason found; it is tried
    // for up to two seconds, and its error named if it still fails.
    if (!pollUntil([this, &file] { return file.rename(m_directory->filePath(QStringLiteral("args"))); },
            QDeadlineTimer(2000))) {
        m_error = QStringLiteral("cannot hand the request to the broker: ") + file.errorString();
        return false;
    }
    m_started = true;
    const auto ready = [this] { return brokerFile("out").contains("ready\n"); };
    pollUntil([this, &ready] { return ready() || !isRunning(); }, QDeadlineTimer(timeoutMs));
    if (ready())
        return true;
    m_error = QStringLiteral("no \"ready\" from the simulator; it printed: ")
        + QString::fromLocal8Bit(brokerFile("out"));
    if (!withdrawRequest() && isRunning()) {
        askBroker("kill");
        pollUntil([this] { return !isRunning(); }, QDeadlineTimer(1000));
    }
    return false;
}

bool DevSimProcess::withdrawRequest()
{
    // Either this or the broker's rename wins; whoever loses finds no "args".
    if (m_started && QFile::remove(m_directory->filePath(QStringLiteral("args"))))
        m_started = false;
    return !m_started;
}

QByteArray DevSimProcess::brokerFile(const char *name) const
{
    QFile file(m_directory->filePath(QLatin1String(name)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void DevSimProcess::askBroker(const char *request)
{
    QFile file(m_directory->filePath(QLatin1String(request)));
    file.open(QIODevice::WriteOnly);
}

bool DevSimProcess::stop(int timeoutMs)
{
    if (!m_started)
        return true;
    if (isRunning()) {
        askBroker("stop");
        if (!pollUntil([this] { return !isRunning(); }, QDeadlineTimer(timeoutMs))) {
            m_error = QStringLiteral("did not stop on SIGTERM");
            return false;
        }
    }
    return brokerFile("exit") == "0";
}

bool DevSimProcess::isRunning() const
{
    return m_started && !QFileInfo::exists(m_directory->filePath(QStringLiteral("exit")));
}

#else

bool DevSimProcess::stop(int timeoutMs)
{
    if (!isRunning())
        return m_process->exitStatus() == QProcess::NormalExit && m_process->exitCode() == 0;
    m_process->terminate();
    if (!m_process->waitForFinished(timeoutMs)) {
        m_error = QStringLiteral("did not stop on SIGTERM");
        return false;
    }
    return m_process->exitStatus() == QProcess::NormalExit && m_process->exitCode() == 0;
}

bool DevSimProcess::isRunning() const
{
    return m_process->state() != QProcess::NotRunning;
}

#endif

QString DevSimProcess::recordPath() const
{
    return m_directory ? m_directory->filePath(QStringLiteral("received.jsonl")) : QString();
}

QList<RecordedDatagram> DevSimProcess::recorded() const
{
    QList<RecordedDatagram> datagrams;
    QFile file(recordPath());
    if (!file.open(QIODevice::ReadOnly))
        return datagrams;
    const QList<QByteArray> lines = file.readAll().split('\n');
    // The last element is empty or a line still being written.
    for (int i = 0; i + 1 < lines.size(); ++i) {
        const QJsonObject line = QJsonDocument::fromJson(lines.at(i)).object();
        RecordedDatagram datagram;
        datagram.timeMs = line.value(QLatin1String("t")).toDouble(-1);
        datagram.source = QHostAddress(line.value(QLatin1String("src")).toString());
        datagram.port = static_cast<quint16>(line.value(QLatin1String("port")).toInt());
        datagram.destination = QHostAddress(line.value(QLatin1String("dst")).toString());
        datagram.ttl = line.value(QLatin1String("ttl")).toInt(-1);
        datagram.bytes = QByteArray::fromBase64(line.value(QLatin1String("bytes")).toString().toLatin1());
        datagrams.append(datagram);
    }
    return datagrams;
}

bool DevSimProcess::waitForRecorded(int count, int timeoutMs) const
{
    return QTest::qWaitFor([this, count] { return recorded().size() >= count; }, timeoutMs);
}
