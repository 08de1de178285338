// Plan files for whole sites: what is read, and every problem found before anything is sent.

#include "siteplan.h"

#include <QtTest>

class TestSitePlan : public QObject {
    Q_OBJECT

private slots:
    void check_data();
    void check();
};

namespace {

SiteDevice device(const char *mac, const char *ip, bool dhcp = false)
{
    SiteDevice d;
    d.mac = QLatin1String(mac);
    d.ip = QLatin1String(ip);
    d.mask = QStringLiteral("255.255.255.0");
    d.gateway = QStringLiteral("198.51.100.254");
    d.dhcp = dhcp;
    d.httpPort = 80;
    return d;
}

// Three devices: two static, one on DHCP.
const QList<SiteDevice> found = { device("02:00:00:00:00:0a", "198.51.100.10"),
    device("02:00:00:00:00:0b", "198.51.100.11"), device("02:00:00:00:00:0c", "198.51.100.12", true) };

} // namespace

void TestSitePlan::check_data()
{
    QTest::addColumn<QByteArray>("plan");
    QTest::addColumn<QStringList>("problems");
    // How many rows change their device.
    QTest::addColumn<int>("changing");

    const QStringList none;
    QTest::newRow("any case and separator")
        << QByteArray("mac,ip\n02-00-00-00-00-0A,198.51.100.20\n") << none << 1;
    QTest::newRow("a spreadsheet's ; file") << QByteArray("\xef\xbb\xbfMAC;ip;dhcp\r\n\"02:00:00:00:00:0b\";"
                                                          "\"198.51.100.21\";No\r\n\r\n")
                                            << none << 1;
    QTest::newRow("empty keeps, unchanged") << QByteArray("mac,ip,mask\n02:00:00:00:00:0a,,\n") << none << 0;
    QTest::newRow("not found is no error")
        << QByteArray("mac,ip\n02:00:00:00:00:99,198.51.100.30\n") << none << 0;
    QTest::newRow("moved out of the way")
        << QByteArray("mac,ip\n02:00:00:00:00:0a,198.51.100.11\n02:00:00:00:00:0b,198.51.100.10\n") << none
        << 2;
    QTest::newRow("to DHCP") << QByteArray("mac,dhcp,http_port\n02:00:00:00:00:0a,1,8080\n") << none << 1;
    QTest::newRow("quoted line end") << QByteArray(
        "mac,gateway\n\"02:00:00:00:00:0a\",\"10.0.0.1\n\"\n02:00:00:00:00:0x,\n")
                                     << QStringList { "line 2: gateway \"10.0.0.1\n\" is not a dotted quad",
                                            "line 4: malformed MAC address \"02:00:00:00:00:0x\"" }
                                     << 1;
    QTest::newRow("malformed MAC") << QByteArray("mac\n02:00:00:00:0a\n")
                                   << QStringList { "line 2: malformed MAC address \"02:00:00:00:0a\"" } << 0;
    QTest::newRow("duplicate MAC")
        << QByteArray("mac,ip\n02:00:00:00:00:0a,198.51.100.20\n02-00-00-00-00-0a,198.51.100.21\n")
        << QStringList { "line 3: MAC address 02-00-00-00-00-0a is also on line 2" } << 1;
    QTest::newRow("not a dotted quad")
        << QByteArray("mac,ip\n02:00:00:00:00:0a,198.51.100.300\n")
        << QStringList { "line 2: ip \"198.51.100.300\" is not a dotted quad" } << 1;
    QTest::newRow("octal-looking part")
        << QByteArray("mac,ip\n02:00:00:00:00:0a,198.51.100.020\n")
        << QStringList { "line 2: ip \"198.51.100.020\" is not a dotted quad" } << 1;
    QTest::newRow("mask with a hole") << QByteArray("mac,mask\n02:00:00:00:00:0a,255.0.255.0\n")
                                      << QStringList { "line 2: mask 255.0.255.0 is not contiguous" } << 1;
    QTest::newRow("network address")
        << QByteArray("mac,ip\n02:00:00:00:00:0a,198.51.100.0\n")
        << QStringList { "line 2: 198.51.100.0 is the network address of its subnet /24" } << 1;
    QTest::newRow("broadcast address")
        << QByteArray("mac,ip\n02:00:00:00:00:0a,198.51.100.255\n")
        << QStringList { "line 2: 198.51.100.255 is the broadcast address of its subnet /24" } << 1;
    QTest::newRow("gateway outside") << QByteArray("mac,gateway\n02:00:00:00:00:0a,10.0.0.1\n")
                                     << QStringList { "line 2: gateway 10.0.0.1 is outside 198.51.100.0/24" }
                                     << 1;
    QTest::newRow("two rows, one address")
        << QByteArray("mac,ip\n02:00:00:00:00:0a,198.51.100.30\n02:00:00:00:00:99,198.51.100.30\n")
        << QStringList { "line 3: address 198.51.100.30 is also on line 2" } << 1;
    QTest::newRow("held by a device that stays")
        << QByteArray("mac,ip\n02:00:00:00:00:0a,198.51.100.11\n")
        << QStringList { "line 2: address 198.51.100.11 is held by 02:00:00:00:00:0b, which the plan does "
                         "not move" }
        << 1;
    QTest::newRow("port out of range")
        << QByteArray("mac,http_port\n02:00:00:00:00:0a,0\n02:00:00:00:00:0b,65536\n")
        << QStringList { "line 2: http_port \"0\" is outside 1-65535",
               "line 3: http_port \"65536\" is outside 1-65535" }
        << 0;
    QTest::newRow("unknown column") << QByteArray("mac,vlan\n02:00:00:00:00:0a,5\n")
                                    << QStringList { "line 1: unknown column \"vlan\"" } << 0;
    QTest::newRow("no mac column") << QByteArray("ip\n198.51.100.30\n")
                                   << QStringList { "line 1: no \"mac\" column",
                                          "line 2: malformed MAC address \"\"" }
                                   << 0;
    QTest::newRow("static, leased address")
        << QByteArray("mac,dhcp\n02:00:00:00:00:0c,no\n")
        << QStringList { "line 2: static addressing but no address" } << 1;
    QTest::newRow("static, not found, no address")
        << QByteArray("mac,dhcp\n02:00:00:00:00:99,false\n")
        << QStringList { "line 2: static addressing but no address" } << 0;
    QTest::newRow("dhcp word") << QByteArray("mac,dhcp\n02:00:00:00:00:0a,maybe\n")
                               << QStringList { "line 2: dhcp \"maybe\" is none of yes/no, true/false, 1/0" }
                               << 0;
    QTest::newRow("more cells than columns")
        << QByteArray("mac\n02:00:00:00:00:0a,x\n") << QStringList { "line 2: 2 cells for 1 columns" } << 0;
}

void TestSitePlan::check()
{
    QFETCH(QByteArray, plan);
    QFETCH(QStringList, problems);
    QFETCH(int, changing);

    QStringList found;
    const QList<PlanStep> steps = siteplan::check(siteplan::read(plan, &found), ::found, &found);
    QCOMPARE(found, problems);
    QCOMPARE(int(std::count_if(steps.cbegin(), steps.cend(), [](const PlanStep &s) { return s.changes(); })),
        changing);
}

QTEST_GUILESS_MAIN(TestSitePlan)
#include "tst_siteplan.moc"
