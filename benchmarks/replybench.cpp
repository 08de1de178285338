// Times one search reply on the path a received datagram takes (local 8-bit decoding, then
// MainWindow::parseResponse) against the JSON parse alone, at several table sizes.
// Run it through run-replybench.sh: the window opens sockets on every usable interface.

#include "devicetable.h"
#include "encoding.h"
#include "mainwindow.h"
#include "netns/testnetworkguard.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QTableWidget>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int tableSizes[] = { 100, 1000, 10000 };
constexpr int listedRows = 10000;
// Filling the table settles the event loop this often, as bursts of datagrams would.
constexpr int fillSettleEvery = 500;

// A limit of 0 means the ratio is shown for information only.
struct Ratio {
    const char *name;
    double value;
    double limit;
};

void discardMessage(QtMsgType, const QMessageLogContext &, const QString &) { }

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void settle()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

class ReplyBench {
public:
    ReplyBench(int batch, int repetitions, int largestTable) : m_batch(batch), m_repetitions(repetitions)
    {
        m_devices.generate(largestTable + batch);
        m_replies.reserve(m_devices.size());
        for (int i = 0; i < m_devices.size(); ++i)
            m_replies.append(m_devices.searchReply(i));
    }

    // Microseconds per reply for devices not yet listed, the table holding rows when they come;
    // afterEvents gets the event-loop work the batch left behind, also per reply.
    double newDevice(int rows, double *afterEvents) const
    {
        std::vector<double> perReply;
        std::vector<double> deferred;
        for (int run = 0; run < m_repetitions; ++run) {
            const std::unique_ptr<MainWindow> window = filledWindow(rows);
            QElapsedTimer clock;
            clock.start();
            feed(window.get(), rows, m_batch);
            perReply.push_back(clock.nsecsElapsed() / 1e3 / m_batch);
            clock.restart();
            settle();
            deferred.push_back(clock.nsecsElapsed() / 1e3 / m_batch);
            expectRows(window.get(), rows + m_batch);
        }
        *afterEvents = median(deferred);
        return median(perReply);
    }

    // Microseconds per reply for devices the table already lists, spread over its rows.
    double listedDevice(int rows) const
    {
        const std::unique_ptr<MainWindow> window = filledWindow(rows);
        std::vector<double> perReply;
        for (int run = 0; run < m_repetitions; ++run) {
            QElapsedTimer clock;
            clock.start();
            for (int i = 0; i < m_batch; ++i) {
                const int device = int((qint64(i) * rows) / m_batch);
                window->parseResponse(decodeReply(m_replies.at(device)));
            }
            perReply.push_back(clock.nsecsElapsed() / 1e3 / m_batch);
            settle();
        }
        expectRows(window.get(), rows);
        return median(perReply);
    }

    // Microseconds per reply for QJsonDocument::fromJson of the bytes that newDevice(rows) feeds.
    double parseFloor(int rows) const
    {
        std::vector<double> perReply;
        int objects = 0;
        for (int run = 0; run < m_repetitions; ++run) {
            QElapsedTimer clock;
            clock.start();
            for (int i = rows; i < rows + m_batch; ++i)
                objects += QJsonDocument::fromJson(m_replies.at(i)).isObject();
            perReply.push_back(clock.nsecsElapsed() / 1e3 / m_batch);
        }
        if (objects != m_batch * m_repetitions)
            fail("a generated reply is not a JSON object");
        return median(perReply);
    }

private:
    std::unique_ptr<MainWindow> filledWindow(int rows) const
    {
        auto window = std::make_unique<MainWindow>();
        window->show();
        settle();
        for (int first = 0; first < rows; first += fillSettleEvery) {
            feed(window.get(), first, std::min(fillSettleEvery, rows - first));
            settle();
        }
        expectRows(window.get(), rows);
        return window;
    }

    void feed(MainWindow *window, int first, int count) const
    {
        for (int i = first; i < first + count; ++i)
            window->parseResponse(decodeReply(m_replies.at(i)));
    }

    static void expectRows(MainWindow *window, int rows)
    {
        const auto *table = window->findChild<QTableWidget *>(QStringLiteral("tableWidgetDevList"));
        if (!table || table->rowCount() != rows)
            fail(qPrintable(QStringLiteral("the table holds %1 rows, expected %2")
                                .arg(table ? table->rowCount() : -1)
                                .arg(rows)));
    }

    [[noreturn]] static void fail(const char *message)
    {
        std::fprintf(stderr, "varnitt-replybench: %s\n", message);
        std::exit(1);
    }

    DeviceTable m_devices;
    QVector<QByteArray> m_replies;
    int m_batch;
    int m_repetitions;
};

int readCount(const QCommandLineParser &parser, const QCommandLineOption &option, int fallback)
{
    if (!parser.isSet(option))
        return fallback;
    bool ok = false;
    const int value = parser.value(option).toInt(&ok);
    if (!ok || value < 1 || value > 1000000) {
        std::fprintf(stderr, "varnitt-replybench: --%s needs a whole number from 1 to 1000000\n",
            qPrintable(option.names().constFirst()));
        std::exit(2);
    }
    return value;
}

} // namespace

int main(int argc, char *argv[])
{
    // benchmarks/run-replybench.sh runs it in an empty network namespace.
    testnetwork::requireTestNetwork("varnitt-replybench");

    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Per-reply cost of the search reply path."));
    parser.addHelpOption();
    const QCommandLineOption batchOption(
        QStringLiteral("batch"), QStringLiteral("Replies timed per run (default 100)."), QStringLiteral("n"));
    const QCommandLineOption repetitionsOption(QStringLiteral("repetitions"),
        QStringLiteral("Runs per figure; the median is shown (default 7)."), QStringLiteral("n"));
    const QCommandLineOption rowsOption(QStringLiteral("rows"),
        QStringLiteral("Time only new devices at this table size (for profiling)."), QStringLiteral("n"));
    const QCommandLineOption listedOption(
        QStringLiteral("listed"), QStringLiteral("With --rows: time listed devices instead."));
    parser.addOptions({ batchOption, repetitionsOption, rowsOption, listedOption });
    parser.process(app);
    const int batch = readCount(parser, batchOption, 100);
    const int repetitions = readCount(parser, repetitionsOption, 7);

    qInstallMessageHandler(discardMessage);

    if (parser.isSet(rowsOption)) {
        const int rows = readCount(parser, rowsOption, 0);
        const ReplyBench bench(batch, repetitions, rows);
        if (parser.isSet(listedOption)) {
            std::printf("listed device at %d rows: %.1f us per reply\n", rows, bench.listedDevice(rows));
            return 0;
        }
        double afterEvents = 0;
        const double cost = bench.newDevice(rows, &afterEvents);
        std::printf("new device at %d rows: %.1f us per reply, then %.1f us of event-loop work\n", rows, cost,
            afterEvents);
        return 0;
    }

    const ReplyBench bench(batch, repetitions, listedRows);
    std::printf(
        "Search reply path, microseconds per reply (median of %d runs of %d replies)\n", repetitions, batch);
    std::printf("%-44s %10s %18s\n", "", "per reply", "event loop after");
    std::vector<double> newCost;
    for (int rows : tableSizes) {
        double afterEvents = 0;
        newCost.push_back(bench.newDevice(rows, &afterEvents));
        std::printf("%-44s %10.1f %18.1f\n",
            qPrintable(QStringLiteral("new device, table at %1 rows").arg(rows)), newCost.back(),
            afterEvents);
    }
    const double listed = bench.listedDevice(listedRows);
    std::printf("%-44s %10.1f\n",
        qPrintable(QStringLiteral("listed device, table at %1 rows").arg(listedRows)), listed);
    const double floor = bench.parseFloor(listedRows);
    std::printf("%-44s %10.1f\n", "floor: QJsonDocument::fromJson alone", floor);

    const Ratio ratios[] = {
        { "new@10000 / new@100", newCost.back() / newCost.front(), 1.25 },
        { "new@10000 / floor", newCost.back() / floor, 0 },
        { "listed@10000 / floor", listed / floor, 0 },
    };
    std::printf("\n%-44s %10s %10s\n", "ratio", "value", "goal");
    bool allMet = true;
    for (const Ratio &ratio : ratios) {
        if (ratio.limit <= 0) {
            std::printf("%-44s %10.2f %10s\n", ratio.name, ratio.value, "-");
            continue;
        }
        const bool met = ratio.value <= ratio.limit;
        allMet = allMet && met;
        std::printf("%-44s %10.2f %7s%.2f %s\n", ratio.name, ratio.value, "<= ", ratio.limit,
            met ? "met" : "NOT met");
    }
    return allMet ? 0 : 1;
}
