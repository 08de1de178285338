#include "mainwindow.h"

#include "ipaddress.h"
#include "localencoding.h"
#include "logcapture.h"
#include "netns/devsimprocess.h"
#include "netns/testnetworkguard.h"

#include <QCheckBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkInterface>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableWidget>
#include <QUdpSocket>
#include <QtTest>

#include <algorithm>

namespace {

const QByteArray searchRequest = "{\n    \"command\": \"search\",\n    \"delay_max\": 500,\n"
                                 "    \"multicast\": true,\n    \"request\": true\n}\n";
const QStringList appAddresses { "198.51.100.1", "198.51.100.2" };

// The source address of a socket's datagrams: its own. Wine binds a socket to the device
// of its address, which then sends with its first address.
QHostAddress expectedSource(const QUdpSocket *socket)
{
    return runsUnderWine() ? QHostAddress(appAddresses.first()) : socket->localAddress();
}

// How the log names the LAN's interface: Linux by its name twice; Windows by its kind and
// index ("ethernet_2"), then by the name people know.
QRegularExpression interfaceLine(const QString &linkName)
{
#ifdef Q_OS_WIN
    const QString systemName = QStringLiteral("ethernet_\\d+");
#else
    const QString systemName = QRegularExpression::escape(linkName);
#endif
    return QRegularExpression(QStringLiteral("^use network interface: \"(%1)\" \"%2\"$")
                                  .arg(systemName, QRegularExpression::escape(linkName)));
}

// How a device's name reads, sent in a text encoding, for each local encoding the expected
// texts know. A name in UTF-8 reads right where they do not say otherwise.
const QMap<QString, QMap<QString, QString>> &namesAsReceived()
{
    static const QMap<QString, QMap<QString, QString>> names {
        // B9 E3B2A5 CA D2: one three-byte sequence among bytes UTF-8 cannot start with.
        { QStringLiteral("UTF-8"),
            { { QStringLiteral("广播室 GBK"), QStringLiteral("\uFFFD\u3CA5\uFFFD\uFFFD") },
                { QStringLiteral("大厅A GBK"), QStringLiteral("\uFFFD\uFFFD\uFFFD\uFFFDA") },
                // D2BB C2A5 is valid UTF-8.
                { QStringLiteral("一楼 GBK"), QStringLiteral("\u04BB\u00A5") },
                { QStringLiteral("Café windows-1252"), QStringLiteral("Caf\uFFFD") } } },
        // Each byte a letter.
        { QStringLiteral("cp1252"),
            { { QStringLiteral("广播室 GBK"), QStringLiteral("\u00B9\u00E3\u00B2\u00A5\u00CA\u00D2") },
                { QStringLiteral("大厅A GBK"), QStringLiteral("\u00B4\u00F3\u00CC\u00FCA") },
                { QStringLiteral("一楼 GBK"), QStringLiteral("\u04BB\u00A5") },
                { QStringLiteral("Café windows-1252"), QStringLiteral("Café") } } },
        // Names valid both ways read as the more plausible text: C3A9 beside "Caf" is "é"
        // rather than "茅"; a lead byte before the closing quote stands alone.
        { QStringLiteral("cp936"),
            { { QStringLiteral("广播室 GBK"), QStringLiteral("广播室") },
                { QStringLiteral("大厅A GBK"), QStringLiteral("大厅A") },
                { QStringLiteral("一楼 GBK"), QStringLiteral("一楼") },
                { QStringLiteral("Café windows-1252"), QStringLiteral("Caf\uFFFD") } } },
    };
    return names;
}

// Null where the expected texts do not say.
QString nameAsReceived(const QString &name, const QString &sentIn)
{
    const QString key = name + QLatin1Char(' ') + sentIn;
    const QMap<QString, QString> names = namesAsReceived().value(localencoding::name());
    if (names.contains(key) || sentIn != QLatin1String("UTF-8"))
        return names.value(key);
    return name;
}

QString devicesFile()
{
    return QStringLiteral(VARNITT_TEST_DATA "/devices-three.json");
}

QString lateStatusFile()
{
    return QStringLiteral(VARNITT_TEST_DATA "/device-late-status.json");
}

// Empty when every socket sends its multicast out of the interface that holds its own
// address; otherwise names the first that does not.
QString socketOnForeignInterface(const QList<QUdpSocket *> &sockets)
{
    for (const QUdpSocket *socket : sockets) {
        const QNetworkInterface out = socket->multicastInterface();
        bool holdsAddress = false;
        for (const QNetworkAddressEntry &entry : out.addressEntries())
            holdsAddress = holdsAddress || entry.ip() == socket->localAddress();
        if (!holdsAddress)
            return socket->localAddress().toString() + QStringLiteral(" sends on \"") + out.name()
                + QLatin1Char('"');
    }
    return QString();
}

// The gaps between consecutive requests, shortest first.
QList<double> sortedGaps(const QList<RecordedDatagram> &requests)
{
    QList<double> gaps;
    for (int i = 1; i < requests.size(); ++i)
        gaps.append(requests.at(i).timeMs - requests.at(i - 1).timeMs);
    std::sort(gaps.begin(), gaps.end());
    return gaps;
}

// The longest a search cycle may take, from the requests it sent: about a period after the
// last one. A starved machine fires single timers late, so the period is the median gap,
// and the margin covers a late start and end.
double cycleCeilingMs(const QList<RecordedDatagram> &requests)
{
    const QList<double> gaps = sortedGaps(requests);
    if (gaps.isEmpty())
        return 0;
    return requests.last().timeMs - requests.first().timeMs + 2 * gaps.at(gaps.size() / 2) + 1000;
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
    void nameInLocalEncoding_data();
    void nameInLocalEncoding();
    void lateReply_data();
    void lateReply();
    void badRepliesAddNoRows_data();
    void badRepliesAddNoRows();
    void secondSearchRefillsTable();
    void setParametersReachesDevice_data();
    void setParametersReachesDevice();
    void manyDevicesInOneSearch();
    void eachInterfaceSendsOnItsOwn();

private:
    void startWindow();
    void searchAndWait(int timeoutMs = 15000);
    QStringList rowTexts(int row) const;
    QString progressRange() const
    {
        const auto *bar = window->findChild<QStatusBar *>("statusbar")->findChild<QProgressBar *>();
        return QString("%1-%2").arg(bar->minimum()).arg(bar->maximum());
    }
    QLabel *statusLabel() const
    {
        return window->findChild<QStatusBar *>("statusbar")->findChild<QLabel *>();
    }
    QTableWidget *table() const
    {
        return window->findChild<QTableWidget *>("tableWidgetDevList");
    }
    QList<QUdpSocket *> sockets() const
    {
        return window->findChildren<QUdpSocket *>();
    }
    QSet<QHostAddress> localAddresses() const
    {
        QSet<QHostAddress> addresses;
        for (const QUdpSocket *socket : sockets())
            addresses.insert(socket->localAddress());
        return addresses;
    }
    // What the simulator received from one of the window's sockets, told apart by port.
    QList<RecordedDatagram> sentBy(const QUdpSocket *socket) const;
    QList<RecordedDatagram> requestsFrom(const QUdpSocket *socket, const QByteArray &bytes) const;

    MainWindow *window = nullptr;
    DevSimProcess sim;
};

void TestDiscovery::initTestCase()
{
    testnetwork::requireTestNetwork("tst_discovery");
    if (!DevSimProcess::harnessPresent())
        QFAIL("needs the test LAN and its simulator control server (tests/sandbox.sh lan --devsim)");
    // A run for a given code page must really have it, or it would test another.
    const QString wanted = qEnvironmentVariable("VARNITT_EXPECT_ENCODING");
    QVERIFY2(wanted.isEmpty() || wanted == localencoding::name(),
        qPrintable("this run is for " + wanted + " but has " + localencoding::name()));
    QVERIFY2(namesAsReceived().contains(localencoding::name()),
        qPrintable("the expected texts know the local encodings UTF-8, cp1252 and cp936, not "
            + localencoding::name()));
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
    QCOMPARE(progressRange(), QString("0-100"));
    button->click();
    QCOMPARE(statusLabel()->text(), QString("search device..."));
    QVERIFY(!button->isEnabled());
    // An empty range makes the bar show that it is busy.
    QCOMPARE(progressRange(), QString("0-0"));
    QTRY_COMPARE_WITH_TIMEOUT(statusLabel()->text(), QString("search device finish."), timeoutMs);
    QVERIFY(button->isEnabled());
    QCOMPARE(progressRange(), QString("0-100"));
}

QStringList TestDiscovery::rowTexts(int row) const
{
    QStringList texts;
    for (int column = 0; column < 9; ++column)
        texts << table()->item(row, column)->text();
    return texts;
}

QList<RecordedDatagram> TestDiscovery::sentBy(const QUdpSocket *socket) const
{
    QList<RecordedDatagram> found;
    for (const RecordedDatagram &datagram : sim.recorded()) {
        if (datagram.port == socket->localPort() && datagram.source == expectedSource(socket))
            found << datagram;
    }
    return found;
}

QList<RecordedDatagram> TestDiscovery::requestsFrom(const QUdpSocket *socket, const QByteArray &bytes) const
{
    QList<RecordedDatagram> found;
    for (const RecordedDatagram &datagram : sentBy(socket)) {
        if (datagram.bytes == bytes)
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

    const QStringList used = capturedLines.filter("use network interface:");
    QCOMPARE(used.size(), 1);
    const QRegularExpressionMatch named
        = interfaceLine(qEnvironmentVariable("VARNITT_APP_IF")).match(used.first());
    QVERIFY2(named.hasMatch(), qPrintable(used.first()));
    QCOMPARE(
        capturedLines.filter(QRegularExpression("^bind \"198\\.51\\.100\\.[12]\"  any port$")).size(), 2);
    QCOMPARE(capturedLines.count("bind success"), 2);
    const QString join = QString("join multicast group success \"239.255.255.250\" by interface \"%1\"")
                             .arg(named.captured(1));
    QCOMPARE(capturedLines.count(join), 2);
    QCOMPARE(sockets().size(), 2);
    const QString foreign = socketOnForeignInterface(sockets());
    QVERIFY2(foreign.isEmpty(), qPrintable(foreign));
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
    QVERIFY2(cycle >= 2950, qPrintable(QString::number(cycle)));

    QVERIFY(sim.waitForRecorded(12));
    QTest::qWait(300);
    QCOMPARE(sim.recorded().size(), 12);
    // One socket per address, each sending with its own; under Wine both send with the first.
    const QSet<QHostAddress> both { QHostAddress(appAddresses.at(0)), QHostAddress(appAddresses.at(1)) };
    QCOMPARE(localAddresses(), both);
    QSet<QHostAddress> sources;
    for (const RecordedDatagram &datagram : sim.recorded())
        sources.insert(datagram.source);
    if (runsUnderWine()) {
        qInfo("under Wine every socket sends with the interface's first address");
        QCOMPARE(sources, QSet<QHostAddress> { QHostAddress(appAddresses.at(0)) });
    } else {
        QCOMPARE(sources, both);
    }
    for (const QUdpSocket *socket : sockets()) {
        const QList<RecordedDatagram> requests = requestsFrom(socket, searchRequest);
        QCOMPARE(requests.size(), 6);
        for (const RecordedDatagram &request : requests) {
            QCOMPARE(request.ttl, 1);
            QCOMPARE(request.destination, QHostAddress("239.255.255.250"));
        }
        // No timer fires early; a late one stretches one gap, not the typical one.
        const QList<double> gaps = sortedGaps(requests);
        QVERIFY2(gaps.first() > 400, qPrintable(QString::number(gaps.first())));
        QVERIFY2(gaps.at(gaps.size() / 2) < 650, qPrintable(QString::number(gaps.at(gaps.size() / 2))));
        QVERIFY2(cycle < cycleCeilingMs(requests), qPrintable(QString::number(cycle)));
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
        QStringList({ "1002", "广播室", "SA-200", "198.51.100.22", "enable", "02:00:00:aa:00:02",
            "file playing", "8080", "5062" }));
    QCOMPARE(rows.value("02:00:00:aa:00:03"),
        QStringList(
            { "", "Yard", "Paging horn", "198.51.100.23", "disable", "02:00:00:aa:00:03", "9", "0", "0" }));
    for (int row = 0; row < 3; ++row) {
        QCOMPARE(table()->item(row, 4)->textAlignment(), int(Qt::AlignHCenter | Qt::AlignVCenter));
        QVERIFY(table()->item(row, 0)->data(Qt::UserRole).value<void *>());
    }
}

void TestDiscovery::nameInLocalEncoding_data()
{
    // A device writes its name in UTF-8, or in its market's code page as devices made for
    // China (GBK) or Western Europe (cp1252) do. Byte counts of the name as sent.
    QTest::addColumn<QString>("mac");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("encoding");
    const auto row = [](const char *tag, const char *mac, const char *name, const char *encoding) {
        QTest::newRow(tag) << QString(mac) << QString::fromUtf8(name) << QString(encoding);
    };
    row("UTF-8, 9 bytes", "02:00:00:aa:00:11", "广播室", "UTF-8");
    row("UTF-8, 6 bytes", "02:00:00:aa:00:12", "大厅", "UTF-8");
    row("UTF-8, accented", "02:00:00:aa:00:14", "Café", "UTF-8");
    row("GBK, 6 bytes", "02:00:00:aa:00:11", "广播室", "GBK");
    row("GBK, 5 bytes", "02:00:00:aa:00:13", "大厅A", "GBK");
    row("GBK, valid as UTF-8", "02:00:00:aa:00:15", "一楼", "GBK");
    row("cp1252, accented", "02:00:00:aa:00:14", "Café", "windows-1252");
}

void TestDiscovery::nameInLocalEncoding()
{
    QFETCH(QString, mac);
    QFETCH(QString, name);
    QFETCH(QString, encoding);
    const QString expected = nameAsReceived(name, encoding);
    QVERIFY2(!expected.isNull(),
        qPrintable("how a " + encoding + " name reads in " + localencoding::name() + " is not known"));
    QVERIFY2(sim.start({ "--devices", QStringLiteral(VARNITT_TEST_DATA "/devices-names.json"), "--codec",
                 encoding }),
        qPrintable(sim.errorString()));
    startWindow();
    searchAndWait();
    const QList<QTableWidgetItem *> found = table()->findItems(mac, Qt::MatchExactly);
    QCOMPARE(found.size(), 1);
    const int row = found.first()->row();
    QCOMPARE(table()->item(row, 1)->text(), expected);
    QTest::mouseClick(
        table()->viewport(), Qt::LeftButton, {}, table()->visualItemRect(table()->item(row, 1)).center());
    QCOMPARE(window->findChild<QLineEdit *>("lineEditDevName")->text(), expected);
}

void TestDiscovery::lateReply_data()
{
    // Devices that answer at once, devices that answer only at 2.7 s, and a text only the late reply holds.
    QTest::addColumn<QStringList>("prompt");
    QTest::addColumn<QStringList>("late");
    QTest::addColumn<QString>("lateText");
    QTest::addColumn<int>("rows");
    QTest::addColumn<bool>("extends");
    QTest::newRow("new device extends the cycle")
        << QStringList() << QStringList { "--count", "1" } << "Speaker 0001" << 1 << true;
    QTest::newRow("listed device with another status does not")
        << QStringList { "--devices", devicesFile(), "--reply-delay", "100" }
        << QStringList { "--devices", lateStatusFile() } << "Lobby (late)" << 3 << false;
}

void TestDiscovery::lateReply()
{
    QFETCH(QStringList, prompt);
    QFETCH(QStringList, late);
    QFETCH(QString, lateText);
    QFETCH(int, rows);
    QFETCH(bool, extends);

    // Both simulators hear every request on the shared port.
    DevSimProcess promptSim;
    if (!prompt.isEmpty())
        QVERIFY2(promptSim.start(prompt), qPrintable(promptSim.errorString()));
    QVERIFY2(sim.start(late + QStringList { "--first-answer-delay", "2700" }), qPrintable(sim.errorString()));
    startWindow();
    QStringList lines;
    QElapsedTimer clock;
    {
        LogCapture log;
        clock.start();
        searchAndWait();
        lines = log.lines();
    }
    const qint64 cycle = clock.elapsed();
    QCOMPARE(table()->rowCount(), rows);
    QVERIFY2(
        !lines.filter("received multicast data:").filter(lateText).isEmpty(), "the late reply never came");
    // A new row at about 2.7 s starts the five repetitions again.
    if (extends) {
        QVERIFY2(cycle > 4900, qPrintable(QString::number(cycle)));
        QVERIFY(requestsFrom(sockets().first(), searchRequest).size() > 6);
    } else {
        const QList<RecordedDatagram> requests = requestsFrom(sockets().first(), searchRequest);
        QCOMPARE(requests.size(), 6);
        QVERIFY2(cycle < cycleCeilingMs(requests), qPrintable(QString::number(cycle)));
    }
}

void TestDiscovery::badRepliesAddNoRows_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("rows");
    QTest::newRow("each reply twice") << QStringList { "--count", "4", "--duplicate" } << 4;
    QTest::newRow("malformed beside valid") << QStringList { "--count", "3", "--malformed" } << 3;
    QTest::newRow("every reply incomplete") << QStringList { "--count", "12", "--incomplete", "100" } << 0;
    QTest::newRow("half incomplete") << QStringList { "--count", "12", "--incomplete", "50" } << 6;
    // C firmware: a reply with its string's NUL, and one with leftover bytes after the NUL.
    QTest::newRow("NUL-terminated replies") << QStringList { "--devices", devicesFile(), "--nul-terminate",
        "02:00:00:aa:00:01", "--nul-junk", "02:00:00:aa:00:02" }
                                            << 3;
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

void TestDiscovery::setParametersReachesDevice_data()
{
    QTest::addColumn<QString>("mac");
    QTest::addColumn<bool>("dhcp");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("mask");
    QTest::addColumn<QString>("gateway");
    QTest::addColumn<int>("port");
    // Each row turns the device's DHCP setting over and changes every other field.
    QTest::newRow("DHCP turned on") << "02:00:00:aa:00:01" << true << "198.51.100.77"
                                    << "255.255.0.0"
                                    << "198.51.100.1" << 8081;
    QTest::newRow("DHCP turned off") << "02:00:00:aa:00:02" << false << "198.51.100.78"
                                     << "255.255.255.128"
                                     << "198.51.100.126" << 81;
}

void TestDiscovery::setParametersReachesDevice()
{
    QFETCH(QString, mac);
    QFETCH(bool, dhcp);
    QFETCH(QString, ip);
    QFETCH(QString, mask);
    QFETCH(QString, gateway);
    QFETCH(int, port);

    QVERIFY2(sim.start({ "--devices", devicesFile() }), qPrintable(sim.errorString()));
    startWindow();
    searchAndWait();
    QTableWidget *t = table();
    const QList<QTableWidgetItem *> found = t->findItems(mac, Qt::MatchExactly);
    QCOMPARE(found.size(), 1);
    QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, t->visualItemRect(found.first()).center());
    QCOMPARE(window->findChild<QLineEdit *>("lineEditMACAddr")->text(), mac);
    QVERIFY(window->findChild<QCheckBox *>("checkBoxDhcp")->isChecked() != dhcp);

    window->findChild<IPAddress *>("widgetIPAddr")->setIP(ip);
    window->findChild<IPAddress *>("widgetSubnetMask")->setIP(mask);
    window->findChild<IPAddress *>("widgetGateway")->setIP(gateway);
    window->findChild<QSpinBox *>("spinBoxHttpPort")->setValue(port);
    window->findChild<QCheckBox *>("checkBoxDhcp")->setChecked(dhcp);

    const int before = sim.recorded().size();
    window->findChild<QPushButton *>("pushButtonConfigNet")->click();
    QCOMPARE(statusLabel()->text(), QString("config device(%1) network parameter...").arg(mac));
    QTRY_COMPARE(statusLabel()->text(), QString("config device(%1) network parameter success.").arg(mac));

    // The bytes themselves are tst_messages' concern; here each form field must reach its member.
    const QJsonObject expected { { "command", "config_net" }, { "request", true }, { "multicast", true },
        { "dhcp", dhcp }, { "ipaddr", ip }, { "subnet_mask", mask }, { "gateway", gateway },
        { "macaddr", mac }, { "http_port", port } };
    QVERIFY(sim.waitForRecorded(before + 2));
    for (const QUdpSocket *socket : sockets()) {
        QList<RecordedDatagram> sent;
        for (const RecordedDatagram &datagram : sentBy(socket)) {
            if (!datagram.bytes.contains("\"search\""))
                sent << datagram;
        }
        QCOMPARE(sent.size(), 1);
        QCOMPARE(QJsonDocument::fromJson(sent.first().bytes).object(), expected);
        QCOMPARE(sent.first().ttl, 1);
    }

    searchAndWait();
    const QList<QTableWidgetItem *> again = t->findItems(mac, Qt::MatchExactly);
    QCOMPARE(again.size(), 1);
    const QStringList texts = rowTexts(again.first()->row());
    QCOMPARE(texts.at(3), ip);
    QCOMPARE(texts.at(4), QString(dhcp ? "enable" : "disable"));
    QCOMPARE(texts.at(7), QString::number(port));
}

void TestDiscovery::manyDevicesInOneSearch()
{
    QVERIFY2(sim.start({ "--count", "500" }), qPrintable(sim.errorString()));
    startWindow();
    searchAndWait(30000);
    QCOMPARE(table()->rowCount(), 500);
}

void TestDiscovery::eachInterfaceSendsOnItsOwn()
{
    // A laptop with two cables: Windows would send both cables' requests out of one.
    const QString secondCable = qEnvironmentVariable("VARNITT_LAN2_IF");
    if (secondCable.isEmpty())
        QSKIP("needs the second cable of tests/sandbox.sh lan --two-cables");
    DevSimProcess second;
    QVERIFY2(sim.start({ "--count", "1" }), qPrintable(sim.errorString()));
    QVERIFY2(second.start({ "--devices", lateStatusFile(), "--interface", secondCable }),
        qPrintable(second.errorString()));
    startWindow();
    const QString foreign = socketOnForeignInterface(sockets());
    QVERIFY2(foreign.isEmpty(), qPrintable(foreign));
    searchAndWait();
    QCOMPARE(table()->rowCount(), 2);

    // One socket per address, on both cables.
    QCOMPARE(localAddresses(),
        QSet<QHostAddress>({ QHostAddress(appAddresses.at(0)), QHostAddress(appAddresses.at(1)),
            QHostAddress("198.51.100.129") }));
    const QHostAddress secondSubnet("198.51.100.128");
    const QUdpSocket *secondSocket = nullptr;
    for (const QUdpSocket *socket : sockets()) {
        if (socket->localAddress().isInSubnet(secondSubnet, 25))
            secondSocket = socket;
    }
    QVERIFY(secondSocket);
    // Every tick writes on every socket; a reply just after a tick may add a round, so the
    // second cable must have heard as many requests as each socket of the first sent.
    const auto secondCableHeard = [&second] { return second.recorded().size(); };
    for (const QUdpSocket *socket : sockets()) {
        if (socket == secondSocket)
            continue;
        const auto firstCableHeard = [this, socket] { return requestsFrom(socket, searchRequest).size(); };
        QTRY_COMPARE(secondCableHeard(), firstCableHeard());
        QVERIFY2(firstCableHeard() >= 6, qPrintable(QString::number(firstCableHeard())));
    }
    for (const RecordedDatagram &datagram : sim.recorded())
        QVERIFY2(!datagram.source.isInSubnet(secondSubnet, 25), qPrintable(datagram.source.toString()));
    for (const RecordedDatagram &datagram : second.recorded()) {
        QCOMPARE(datagram.source, QHostAddress("198.51.100.129"));
        QCOMPARE(datagram.port, secondSocket->localPort());
        QCOMPARE(datagram.bytes, searchRequest);
    }
}

QTEST_MAIN(TestDiscovery)
#include "tst_discovery.moc"
