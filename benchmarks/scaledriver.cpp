// Drives one search of the real main window, as a user pressing Search Devices would, and
// reports what it found and what it cost as "key value" lines on stdout. The program's own
// debug lines go to stderr as usual. Started by tools/scale-run.sh inside the test LAN.

#include "mainwindow.h"
#include "netns/testnetworkguard.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>
#include <QUdpSocket>

#include <cstdio>
#include <sys/resource.h>
#include <sys/socket.h>

namespace {

constexpr int pollMs = 10;

qint64 receivedDatagrams = 0;

// Same output as the default handler, counting the datagram lines on the way.
void countingHandler(QtMsgType, const QMessageLogContext &, const QString &message)
{
    if (message.startsWith(QLatin1String("received multicast data:")))
        ++receivedDatagrams;
    const QByteArray line = message.toLocal8Bit() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
}

double cpuSeconds(const rusage &usage)
{
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

rusage selfUsage()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage;
}

} // namespace

int main(int argc, char *argv[])
{
    // The window sends to every usable interface.
    testnetwork::requireTestNetwork("varnitt-scaledriver");
    if (qEnvironmentVariableIsEmpty("VARNITT_LAN_NS")) {
        std::fprintf(
            stderr, "varnitt-scaledriver: run only inside tests/sandbox.sh lan (tools/scale-run.sh)\n");
        return 1;
    }

    qInstallMessageHandler(countingHandler);
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption timeoutOption(QStringLiteral("timeout"),
        QStringLiteral("Give up when the search has not ended after s seconds (default 900)."),
        QStringLiteral("s"));
    const QCommandLineOption forceBufferOption(QStringLiteral("force-receive-buffer"),
        QStringLiteral("Set the discovery sockets' receive buffer to this many bytes with "
                       "SO_RCVBUFFORCE, past net.core.rmem_max (needs CAP_NET_ADMIN)."),
        QStringLiteral("bytes"));
    parser.addOptions({ timeoutOption, forceBufferOption });
    parser.process(app);
    bool timeoutOk = false;
    const int timeoutS = parser.value(timeoutOption).toInt(&timeoutOk);
    const int timeoutMs = (timeoutOk && timeoutS > 0 && timeoutS <= 86400 ? timeoutS : 900) * 1000;

    MainWindow window;
    window.show();
    auto *button = window.findChild<QPushButton *>(QStringLiteral("pushButtonSearch"));
    auto *table = window.findChild<QTableWidget *>(QStringLiteral("tableWidgetDevList"));
    const QList<QLabel *> statusLabels = window.statusBar()->findChildren<QLabel *>();
    const QList<QUdpSocket *> sockets = window.findChildren<QUdpSocket *>();
    if (!button || !table || sockets.isEmpty()) {
        std::fprintf(stderr, "varnitt-scaledriver: no search button, table or discovery socket\n");
        return 1;
    }
    if (parser.isSet(forceBufferOption)) {
        bool ok = false;
        const int bytes = parser.value(forceBufferOption).toInt(&ok);
        for (QUdpSocket *socket : sockets) {
            if (!ok || bytes <= 0
                || setsockopt(
                       int(socket->socketDescriptor()), SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes)
                    != 0) {
                std::perror("varnitt-scaledriver: SO_RCVBUFFORCE");
                return 1;
            }
        }
    }
    for (QUdpSocket *socket : sockets)
        std::printf("receive_buffer_bytes %s %d\n", qPrintable(socket->localAddress().toString()),
            socket->socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toInt());

    QElapsedTimer clock;
    double lastRowS = -1;
    double endS = -1;
    QObject::connect(table->model(), &QAbstractItemModel::rowsInserted, &window,
        [&] { lastRowS = clock.nsecsElapsed() / 1e9; });

    QTimer poll;
    poll.setInterval(pollMs);
    QObject::connect(&poll, &QTimer::timeout, &window, [&] {
        for (const QLabel *label : statusLabels) {
            if (label->text() == QLatin1String("search device finish.")) {
                endS = clock.nsecsElapsed() / 1e9;
                QCoreApplication::quit();
                return;
            }
        }
        if (clock.elapsed() > timeoutMs)
            QCoreApplication::exit(3);
    });

    // Let the window settle first so start-up work is not counted against the search.
    QTimer::singleShot(200, &window, [&] {
        const rusage before = selfUsage();
        std::printf("cpu_before_click_s %.3f\n", cpuSeconds(before));
        clock.start();
        button->click();
        if (button->isEnabled()) {
            std::fprintf(stderr, "varnitt-scaledriver: the search did not start\n");
            QCoreApplication::exit(1);
            return;
        }
        poll.start();
    });

    const int result = app.exec();
    const rusage after = selfUsage();
    std::printf("devices_found %d\n", table->rowCount());
    std::printf("datagrams_received %lld\n", receivedDatagrams);
    std::printf("last_new_row_s %.3f\n", lastRowS);
    std::printf("search_end_s %.3f\n", endS);
    std::printf("cpu_s %.3f\n", cpuSeconds(after));
    std::printf("peak_rss_mb %.1f\n", after.ru_maxrss / 1024.0);
    std::fflush(stdout);
    if (result == 3)
        std::fprintf(stderr, "varnitt-scaledriver: the search had not ended after %d s\n", timeoutMs / 1000);
    return result;
}
