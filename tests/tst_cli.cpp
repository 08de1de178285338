// varnitt-cli against the simulator on the test LAN: an export and an apply with every kind of failure.

#include "encoding.h"
#include "mainwindow.h"
#include "networkconfig.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "netns/devsimprocess.h"
#include "netns/testnetworkguard.h"

class TestCli : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void exportThenApply();

private:
    // Runs varnitt-cli to its end; its exit status.
    int cli(const QStringList &arguments, QByteArray *out = nullptr, QByteArray *err = nullptr);

    DevSimProcess sim;
    QTemporaryDir dir;
};

void TestCli::initTestCase()
{
    testnetwork::requireTestNetwork("tst_cli");
    if (!DevSimProcess::harnessPresent())
        QFAIL("needs the test LAN and its simulator control server (tests/sandbox.sh lan --devsim)");
    QVERIFY(dir.isValid());
}

int TestCli::cli(const QStringList &arguments, QByteArray *out, QByteArray *err)
{
    QProcess process;
    process.start(QStringLiteral(VARNITT_CLI), arguments);
    // The simulator's datagrams reach this process's event loop only while it waits here.
    while (!process.waitForFinished(50))
        sim.recorded();
    if (out)
        *out = process.readAllStandardOutput();
    if (err)
        *err = process.readAllStandardError();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

void TestCli::exportThenApply()
{
    const QString deaf = QStringLiteral("02:00:00:5e:00:03");
    const QString lateAnswer = QStringLiteral("02:00:00:5E:00:04");
    // Each request leaves once per address of this side, and each copy gets its own reply: all
    // of the first are lost.
    const int addresses
        = qEnvironmentVariable("VARNITT_APP_ADDRS").split(QLatin1Char(' '), Qt::SkipEmptyParts).size();
    QStringList arguments { "--devices", VARNITT_TEST_DATA "/site-four.json", "--ignore-config-mac", deaf };
    for (int i = 0; i < addresses; ++i)
        arguments << "--drop-config-reply" << lateAnswer;
    QVERIFY2(sim.start(arguments), qPrintable(sim.errorString()));

    // The export: a spreadsheet's file, with the formula-like name made harmless.
    QByteArray out, err;
    const QString found = dir.filePath(QStringLiteral("found.csv"));
    QCOMPARE(cli({ "search", "--format", "csv", "--output", found }, &out, &err), 0);
    QVERIFY(out.isEmpty());
    QVERIFY2(
        err.contains("2 devices share the address 192.168.1.100: 02:00:00:5e:00:01, 02:00:00:5e:00:02"), err);
    QFile file(found);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.size(), 6);
    QCOMPARE(lines.at(0),
        QByteArray("\xef\xbb\xbfmac,ip,mask,gateway,dhcp,http_port,sip_account,sip_port,name,type,"
                   "vendor_type,status\r"));
    QCOMPARE(lines.at(1),
        QByteArray("02:00:00:5e:00:01,192.168.1.100,255.255.255.0,192.168.1.1,no,80,1001,5060,"
                   "\xe5\xb9\xbf\xe6\x92\xad\xe5\xae\xa4,"
                   "\xe5\xb9\xbf\xe6\x92\xad\xe5\xae\xa4\xe9\x9f\xb3\xe6\x9f\xb1,"
                   "SA-200,idle\r"));
    QCOMPARE(lines.at(2),
        QByteArray("02:00:00:5e:00:02,192.168.1.100,255.255.255.0,192.168.1.1,no,80,1002,5060,"
                   "\"'=HYPERLINK(\"\"http://x.invalid\"\",\"\"Lobby\"\")\",,SA-200,rtp playing\r"));

    // The plan as a European Excel saves it; one row for a device that is not there.
    const QString plan = dir.filePath(QStringLiteral("plan.csv"));
    QFile planFile(plan);
    QVERIFY(planFile.open(QIODevice::WriteOnly));
    planFile.write("\xef\xbb\xbfmac;dhcp;ip;mask;gateway;http_port\r\n"
                   "02-00-00-5E-00-01;no;198.51.100.20;255.255.255.0;198.51.100.254;\r\n"
                   "02:00:00:5e:00:02;no;198.51.100.21;;198.51.100.254;8080\r\n"
                   "02:00:00:5e:00:03;no;198.51.100.22;;;\r\n"
                   "02:00:00:5e:00:04;no;198.51.100.23;;;\r\n"
                   "02:00:00:5e:00:09;no;198.51.100.24;;;\r\n");
    planFile.close();
    const int recordedBefore = sim.recorded().size();
    QCOMPARE(cli({ "apply", plan, "--yes", "--format", "json" }, &out, &err), 1);
    QJsonParseError parseError;
    const QJsonArray report = QJsonDocument::fromJson(out, &parseError).array();
    QVERIFY2(parseError.error == QJsonParseError::NoError, out);
    QStringList results;
    for (const QJsonValue &row : report)
        results << row[QLatin1String("mac")].toString() + QLatin1Char(' ')
                + row[QLatin1String("result")].toString();
    QCOMPARE(results,
        QStringList({ "02-00-00-5E-00-01 verified", "02:00:00:5e:00:02 verified",
            "02:00:00:5e:00:03 no answer", "02:00:00:5e:00:04 verified", "02:00:00:5e:00:09 not found" }));

    // Every config_net datagram is the window's own request, and only the unanswered were resent.
    struct Sent {
        const char *mac;
        const char *ip;
        const char *gateway;
        int httpPort;
        int times;
    };
    const Sent expected[] = { { "02:00:00:5e:00:01", "198.51.100.20", "198.51.100.254", 80, 1 },
        { "02:00:00:5e:00:02", "198.51.100.21", "198.51.100.254", 8080, 1 },
        { "02:00:00:5e:00:03", "198.51.100.22", "198.51.100.254", 80, 3 },
        { "02:00:00:5E:00:04", "198.51.100.23", "198.51.100.254", 8080, 2 } };
    QMap<QByteArray, int> configNets;
    const QList<RecordedDatagram> recorded = sim.recorded().mid(recordedBefore);
    for (const RecordedDatagram &datagram : recorded) {
        if (!datagram.bytes.contains("config_net"))
            continue;
        ++configNets[datagram.bytes];
    }
    QMap<QByteArray, int> wanted;
    for (const Sent &sent : expected) {
        NetworkConfig config;
        config.macAddr = QLatin1String(sent.mac);
        config.ipAddr = QLatin1String(sent.ip);
        config.subnetMask = QStringLiteral("255.255.255.0");
        config.gateway = QLatin1String(sent.gateway);
        config.httpPort = sent.httpPort;
        wanted[encodeGBK(QString::fromUtf8(MainWindow::configNetRequestBytes(config)))]
            = sent.times * addresses;
    }
    QCOMPARE(configNets, wanted);
    QVERIFY(sim.stop());
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
