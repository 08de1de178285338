#include "mainwindow.h"

#include "ipaddress.h"
#include "logcapture.h"
#include "netns/devsimprocess.h"
#include "netns/testnetworkguard.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableWidget>
#include <QUdpSocket>
#include <QtTest>

namespace {

const QByteArray searchRequest = "{\n    \"command\": \"search\",\n    \"delay_max\": 500,\n"
                                 "    \"multicast\": true,\n    \"request\": true\n}\n";
const QStringList appAddresses { "198.51.100.1", "198.51.100.2" };

QString devicesFile()
{
    return QStringLiteral(VARNITT_TEST_DATA "/devices-three.json");
}

} // namespace

// The real program against the simulator, over multicast between two namespaces.
class TestDiscovery : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void socketPerAddressIsLogged();
    void searchRepeatsRequestOnEverySocket();
    void searchListsEveryDevice();
    void lateDeviceExtendsSearch();
    void badRepliesAddNoRows_data();
    void badRepliesAddNoRows();
    void secondSearchRefillsTable();
    void setParametersReachesDevice();
    void manyDevicesInOneSearch();

private:
    void startWindow();
    void searchAndWait(int timeoutMs = 15000);
    QStringList rowTexts(int row) const;
    QLabel *statusLabel() const
    {
        return window->findChild<QStatusBar *>("statusbar")->findChild<QLabel *>();
    }
    QTableWidget *table() const
    {
        return window->findChild<QTableWidget *>("tableWidgetDevList");
    }
    QList<RecordedDatagram> requestsFrom(const QString &source, const QByteArray &bytes) const;

    MainWindow *window = nullptr;
    DevSimProcess sim;
};

void TestDiscovery::initTestCase()
{
    testnetwork::requireTestNetwork("tst_discovery");
    if (!DevSimProcess::harnessPresent())
        QFAIL("needs the test LAN (run through tests/netns/lan.sh)");
}

void TestDiscovery::cleanup()
{
    // Deleting the window with live sockets is part of the test: nothing may fire into it.
    delete window;
    window = nullptr;
    sim.stop();
}

void TestDiscovery::startWindow()
{
    window = new MainWindow;
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
}

void TestDiscovery::searchAndWait(int timeoutMs)
{
    auto *button = window->findChild<QPushButton *>("pushButtonSearch");
    button->click();
    QCOMPARE(statusLabel()->text(), QString("search device..."));
    QVERIFY(!button->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(statusLabel()->text(), QString("search device finish."), timeoutMs);
    QVERIFY(button->isEnabled());
}

QStringList TestDiscovery::rowTexts(int row) const
{
    QStringList texts;
    for (int column = 0; column < 9; ++column)
        texts << table()->item(row, column)->text();
    return texts;
}

QList<RecordedDatagram> TestDiscovery::requestsFrom(const QString &source, const QByteArray &bytes) const
{
    QList<RecordedDatagram> found;
    for (const RecordedDatagram &datagram : sim.recorded()) {
        if (datagram.source == QHostAddress(source) && datagram.bytes == bytes)
            found << datagram;
    }
    return found;
}

void TestDiscovery::socketPerAddressIsLogged()
{
    QStringList capturedLines;
    {
        LogCapture log;
        startWindow();
        capturedLines = log.lines();
    }

    const QString appInterface = qEnvironmentVariable("VARNITT_APP_IF");
    QCOMPARE(capturedLines.filter("use network interface:"),
        QStringList { QString("use network interface: \"%1\" \"%1\"").arg(appInterface) });
    QCOMPARE(
        capturedLines.filter(QRegularExpression("^bind \"198\\.51\\.100\\.[12]\"  any port$")).size(), 2);
    QCOMPARE(capturedLines.count("bind success"), 2);
    const QString join
        = QString("join multicast group success \"239.255.255.250\" by interface \"%1\"").arg(appInterface);
    QCOMPARE(capturedLines.count(join), 2);
    QCOMPARE(window->findChildren<QUdpSocket *>().size(), 2);
    QCOMPARE(statusLabel()->text(), QString());
}

void TestDiscovery::searchRepeatsRequestOnEverySocket()
{
    QVERIFY2(sim.start({ "--count", "0" }), qPrintable(sim.errorString()));
    startWindow();
    QElapsedTimer clock;
    clock.start();
    searchAndWait();
    const qint64 cycle = clock.elapsed();
    QVERIFY2(cycle >= 2950 && cycle < 3600, qPrintable(QString::number(cycle)));

    QVERIFY(sim.waitForRecorded(12));
    QTest::qWait(300);
    QCOMPARE(sim.recorded().size(), 12);
    for (const QString &source : appAddresses) {
        const QList<RecordedDatagram> requests = requestsFrom(source, searchRequest);
        QCOMPARE(requests.size(), 6);
        for (int i = 0; i < requests.size(); ++i) {
            QCOMPARE(requests.at(i).ttl, 1);
            QCOMPARE(requests.at(i).destination, QHostAddress("239.255.255.250"));
            if (i > 0) {
                const double gap = requests.at(i).timeMs - requests.at(i - 1).timeMs;
                QVERIFY2(gap > 400 && gap < 650, qPrintable(QString::number(gap)));
            }
        }
    }
}

void TestDiscovery::searchListsEveryDevice()
{
    QVERIFY2(sim.start({ "--devices", devicesFile() }), qPrintable(sim.errorString()));
    startWindow();
    searchAndWait();
    QCOMPARE(table()->rowCount(), 3);

    // Replies arrive in random order; index the rows by MAC address.
    QMap<QString, QStringList> rows;
    for (int row = 0; row < 3; ++row)
        rows.insert(table()->item(row, 5)->text(), rowTexts(row));
    QCOMPARE(rows.value("02:00:00:aa:00:01"),
        QStringList({ "1001", "Lobby", "Lobby speaker", "198.51.100.21", "disable", "02:00:00:aa:00:01",
            "idle", "80", "5060" }));
    QCOMPARE(rows.value("02:00:00:aa:00:02"),
        QStringList({ "1002", QString::fromUtf8("广播室"), "SA-200", "198.51.100.22", "enable",
            "02:00:00:aa:00:02", "file playing", "8080", "5062" }));
    QCOMPARE(rows.value("02:00:00:aa:00:03"),
        QStringList(
            { "", "Yard", "Paging horn", "198.51.100.23", "disable", "02:00:00:aa:00:03", "9", "0", "0" }));
    for (int row = 0; row < 3; ++row) {
        QCOMPARE(table()->item(row, 4)->textAlignment(), int(Qt::AlignHCenter | Qt::AlignVCenter));
        QVERIFY(table()->item(row, 0)->data(Qt::UserRole).value<void *>());
    }
}

void TestDiscovery::lateDeviceExtendsSearch()
{
    QVERIFY2(sim.start({ "--count", "1", "--first-answer-delay", "2700" }), qPrintable(sim.errorString()));
    startWindow();
    QElapsedTimer clock;
    clock.start();
    searchAndWait();
    QCOMPARE(table()->rowCount(), 1);
    // The row reset the count at about 2.7 s, so five more ticks ran.
    QVERIFY2(clock.elapsed() > 4900, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(requestsFrom(appAddresses.first(), searchRequest).size() > 6);
}

void TestDiscovery::badRepliesAddNoRows_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("rows");
    QTest::newRow("each reply twice") << QStringList { "--count", "4", "--duplicate" } << 4;
    QTest::newRow("malformed beside valid") << QStringList { "--count", "3", "--malformed" } << 3;
    QTest::newRow("every reply incomplete") << QStringList { "--count", "12", "--incomplete", "100" } << 0;
    QTest::newRow("half incomplete") << QStringList { "--count", "12", "--incomplete", "50" } << 6;
}

void TestDiscovery::badRepliesAddNoRows()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, rows);
    QVERIFY2(sim.start(arguments), qPrintable(sim.errorString()));
    startWindow();
    searchAndWait();
    QCOMPARE(table()->rowCount(), rows);
    QSet<QString> macs;
    for (int row = 0; row < table()->rowCount(); ++row)
        macs.insert(table()->item(row, 5)->text());
    QCOMPARE(macs.size(), rows);
}

void TestDiscovery::secondSearchRefillsTable()
{
    QVERIFY2(sim.start({ "--devices", devicesFile() }), qPrintable(sim.errorString()));
    startWindow();
    searchAndWait();
    QCOMPARE(table()->rowCount(), 3);

    auto *button = window->findChild<QPushButton *>("pushButtonSearch");
    button->click();
    // The old rows are gone before any new reply can arrive.
    QCOMPARE(table()->rowCount(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(statusLabel()->text(), QString("search device finish."), 15000);
    QCOMPARE(table()->rowCount(), 3);
}

void TestDiscovery::setParametersReachesDevice()
{
    QVERIFY2(sim.start({ "--devices", devicesFile() }), qPrintable(sim.errorString()));
    startWindow();
    searchAndWait();
    QTableWidget *t = table();
    const QList<QTableWidgetItem *> found = t->findItems("02:00:00:aa:00:01", Qt::MatchExactly);
    QCOMPARE(found.size(), 1);
    QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, t->visualItemRect(found.first()).center());
    QCOMPARE(window->findChild<QLineEdit *>("lineEditMACAddr")->text(), QString("02:00:00:aa:00:01"));

    window->findChild<IPAddress *>("widgetIPAddr")->setIP("198.51.100.77");
    window->findChild<IPAddress *>("widgetSubnetMask")->setIP("255.255.0.0");
    window->findChild<IPAddress *>("widgetGateway")->setIP("198.51.100.1");
    window->findChild<QSpinBox *>("spinBoxHttpPort")->setValue(8081);
    window->findChild<QCheckBox *>("checkBoxDhcp")->setChecked(true);

    const int before = sim.recorded().size();
    window->findChild<QPushButton *>("pushButtonConfigNet")->click();
    QCOMPARE(statusLabel()->text(), QString("config device(02:00:00:aa:00:01) network parameter..."));
    QTRY_COMPARE(
        statusLabel()->text(), QString("config device(02:00:00:aa:00:01) network parameter success."));

    const QByteArray expected
        = "{\n    \"command\": \"config_net\",\n    \"dhcp\": true,\n"
          "    \"gateway\": \"198.51.100.1\",\n    \"http_port\": 8081,\n"
          "    \"ipaddr\": \"198.51.100.77\",\n    \"macaddr\": \"02:00:00:aa:00:01\",\n"
          "    \"multicast\": true,\n    \"request\": true,\n"
          "    \"subnet_mask\": \"255.255.0.0\"\n}\n";
    QVERIFY(sim.waitForRecorded(before + 2));
    for (const QString &source : appAddresses) {
        const QList<RecordedDatagram> sent = requestsFrom(source, expected);
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent.first().ttl, 1);
    }

    searchAndWait();
    const QList<QTableWidgetItem *> again = t->findItems("02:00:00:aa:00:01", Qt::MatchExactly);
    QCOMPARE(again.size(), 1);
    const QStringList texts = rowTexts(again.first()->row());
    QCOMPARE(texts.at(3), QString("198.51.100.77"));
    QCOMPARE(texts.at(4), QString("enable"));
    QCOMPARE(texts.at(7), QString("8081"));
}

void TestDiscovery::manyDevicesInOneSearch()
{
    QVERIFY2(sim.start({ "--count", "500" }), qPrintable(sim.errorString()));
    startWindow();
    searchAndWait(30000);
    QCOMPARE(table()->rowCount(), 500);
}

QTEST_MAIN(TestDiscovery)
#include "tst_discovery.moc"
