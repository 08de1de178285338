// Message building and parsing, reply dispatch and the device table rows.
// Builds a MainWindow, which opens sockets: run it only through the empty-namespace wrapper.

#include "audiodevice.h"
#include "encoding.h"
#include "mainwindow.h"
#include "networkconfig.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTableWidget>
#include <QTextCodec>
#include <QtTest>

#include "logcapture.h"
#include "netns/testnetworkguard.h"

#include <climits>

namespace {

const QString recordAddress = QStringLiteral("<row record address>");
const QString deviceLine = QStringLiteral(R"("Name" , 6 , true , "198.51.100.7" , "255.255.255.0" , )"
                                          R"("198.51.100.254" , "02:00:00:00:00:01")");
const QString pendingText = QStringLiteral("config device(02:00:00:00:00:01) network parameter...");

// A complete search reply; rows change or drop members of it.
QJsonObject reply(const QJsonObject &overrides = {}, const QStringList &removed = {})
{
    QJsonObject object {
        { "request", false },
        { "command", "search" },
        { "vendor_devtype_name", "SA-100" },
        { "custom_devtype_name", "Ceiling" },
        { "user_devtype_name", "Lobby speaker" },
        { "dev_status", 6 },
        { "dhcp", true },
        { "ipaddr", "198.51.100.7" },
        { "subnet_mask", "255.255.255.0" },
        { "gateway", "198.51.100.254" },
        { "macaddr", "02:00:00:00:00:01" },
        { "http_Port", 8080 },
        { "user_account", "1001" },
        { "display_name", "Name" },
        { "sip_port", 5060 },
    };
    for (const QString &key : removed)
        object.remove(key);
    for (auto it = overrides.begin(); it != overrides.end(); ++it)
        object.insert(it.key(), it.value());
    return object;
}

QString replyText(const QJsonObject &overrides = {}, const QStringList &removed = {})
{
    return QString::fromUtf8(QJsonDocument(reply(overrides, removed)).toJson(QJsonDocument::Compact));
}

QVariantMap recordValues(const AudioDevice &d)
{
    return { { "sipAccount", d.sipAccount }, { "sipPort", d.sipPort }, { "displayName", d.displayName },
        { "vendorTypeName", d.vendorTypeName }, { "typeName", d.typeName }, { "status", d.status },
        { "dhcp", d.dhcp }, { "ipAddr", d.ipAddr }, { "subnetMask", d.subnetMask }, { "gateway", d.gateway },
        { "macAddr", d.macAddr }, { "httpPort", d.httpPort } };
}

// The record that reply() describes.
QVariantMap replyValues()
{
    return { { "sipAccount", "1001" }, { "sipPort", 5060 }, { "displayName", "Name" },
        { "vendorTypeName", "SA-100" }, { "typeName", "Lobby speaker" }, { "status", 6 }, { "dhcp", true },
        { "ipAddr", "198.51.100.7" }, { "subnetMask", "255.255.255.0" }, { "gateway", "198.51.100.254" },
        { "macAddr", "02:00:00:00:00:01" }, { "httpPort", 8080 } };
}

void fillConfig(NetworkConfig &config, bool dhcp, const QString &ip, const QString &mask,
    const QString &gateway, const QString &mac, int port)
{
    config.dhcp = dhcp;
    config.ipAddr = ip;
    config.subnetMask = mask;
    config.gateway = gateway;
    config.macAddr = mac;
    config.httpPort = port;
}

QByteArray configNetText(const QByteArray &dhcp, const QByteArray &gateway, int port, const QByteArray &ip,
    const QByteArray &mac, const QByteArray &mask)
{
    return "{\n    \"command\": \"config_net\",\n    \"dhcp\": " + dhcp + ",\n    \"gateway\": \"" + gateway
        + "\",\n    \"http_port\": " + QByteArray::number(port) + ",\n    \"ipaddr\": \"" + ip
        + "\",\n    \"macaddr\": \"" + mac + "\",\n    \"multicast\": true,\n    \"request\": true,\n"
        + "    \"subnet_mask\": \"" + mask + "\"\n}\n";
}

} // namespace

class TestMessages : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void searchRequest();
    void configNetRequest_data();
    void configNetRequest();
    void encoding_data();
    void encoding();
    void decodeReply_data();
    void decodeReply();
    void parseSearchResponse_data();
    void parseSearchResponse();
    void parseResponse_data();
    void parseResponse();
    void searchReplyAddsRow();
    void rowCellText_data();
    void rowCellText();
    void duplicateMac_data();
    void duplicateMac();
    void configNetReply_data();
    void configNetReply();

private:
    AudioDevice *rowRecord(int row) const
    {
        return static_cast<AudioDevice *>(table->item(row, 0)->data(Qt::UserRole).value<void *>());
    }

    MainWindow *window = nullptr;
    QTableWidget *table = nullptr;
    QLabel *statusLabel = nullptr;
};

void TestMessages::initTestCase()
{
    // A window opened on a real network would join the discovery group there.
    testnetwork::requireTestNetwork("tst_messages");
}

void TestMessages::init()
{
    LogCapture quiet;
    window = new MainWindow;
    table = window->findChild<QTableWidget *>(QStringLiteral("tableWidgetDevList"));
    QVERIFY(table);
    const QList<QLabel *> labels
        = window->findChild<QStatusBar *>(QStringLiteral("statusbar"))->findChildren<QLabel *>();
    QCOMPARE(labels.size(), 1);
    statusLabel = labels.first();
}

void TestMessages::cleanup()
{
    LogCapture quiet;
    delete window;
    window = nullptr;
}

void TestMessages::searchRequest()
{
    const QByteArray expected("{\n    \"command\": \"search\",\n    \"delay_max\": 500,\n"
                              "    \"multicast\": true,\n    \"request\": true\n}\n");
    QCOMPARE(expected.size(), 94);
    QCOMPARE(MainWindow::searchRequestBytes(), expected);
    // No discovery socket in an empty namespace: nothing to send on.
    QVERIFY(!window->sendSearchRequest());
}

void TestMessages::configNetRequest_data()
{
    QTest::addColumn<bool>("dhcp");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("mask");
    QTest::addColumn<QString>("gateway");
    QTest::addColumn<QString>("mac");
    QTest::addColumn<int>("port");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("payload");

    const QByteArray fixed
        = configNetText("false", "198.51.100.254", 80, "198.51.100.7", "02:00:00:00:00:01", "255.255.255.0");
    QTest::newRow("static address") << false << "198.51.100.7"
                                    << "255.255.255.0"
                                    << "198.51.100.254"
                                    << "02:00:00:00:00:01" << 80 << fixed << fixed;
    const QByteArray dhcp
        = configNetText("true", "198.51.100.254", 0, "198.51.100.7", "AA:BB", "255.255.255.0");
    QTest::newRow("dhcp, port 0") << true << "198.51.100.7"
                                  << "255.255.255.0"
                                  << "198.51.100.254"
                                  << "AA:BB" << 0 << dhcp << dhcp;
    // Editor texts go out as composed, incomplete ones included.
    const QByteArray partial = configNetText("false", "", 65535, "192.168.1.", "AA:BB", "...");
    QTest::newRow("partial editors") << false << "192.168.1."
                                     << "..."
                                     << ""
                                     << "AA:BB" << 65535 << partial << partial;
    const QByteArray chinese
        = configNetText("false", "198.51.100.254", 80, "198.51.100.7", "中文", "255.255.255.0");
    QByteArray gbk = chinese;
    gbk.replace("中文", "\xD6\xD0\xCE\xC4");
    QTest::newRow("non-ASCII mac") << false << "198.51.100.7"
                                   << "255.255.255.0"
                                   << "198.51.100.254"
                                   << "中文" << 80 << chinese << gbk;
}

void TestMessages::configNetRequest()
{
    QFETCH(bool, dhcp);
    QFETCH(QString, ip);
    QFETCH(QString, mask);
    QFETCH(QString, gateway);
    QFETCH(QString, mac);
    QFETCH(int, port);
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, payload);

    NetworkConfig config;
    fillConfig(config, dhcp, ip, mask, gateway, mac, port);
    const QByteArray bytes = MainWindow::configNetRequestBytes(config);
    QCOMPARE(bytes, text);
    QCOMPARE(encodeGBK(QString::fromUtf8(bytes)), payload);

    LogCapture quiet;
    window->sendConfigNetRequest(config);
    QCOMPARE(statusLabel->text(), "config device(" + mac + ") network parameter...");
}

void TestMessages::encoding_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("gbk");

    QTest::newRow("empty") << QString() << QByteArray();
    QTest::newRow("ASCII") << "198.51.100.7 AA:BB" << QByteArray("198.51.100.7 AA:BB");
    QTest::newRow("Chinese") << "中文" << QByteArray("\xD6\xD0\xCE\xC4");
    QTest::newRow("mixed") << "会议室 A1" << QByteArray("\xBB\xE1\xD2\xE9\xCA\xD2 A1");
}

void TestMessages::encoding()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, gbk);
    QCOMPARE(encodeGBK(text), gbk);
    QCOMPARE(reencodeGB18030(text), text);
}

void TestMessages::decodeReply_data()
{
    // A name as a device sends it, read on a machine with that code page. Beside it the
    // reply holds a type in GBK, which no reading of the name may drag along.
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("codePage");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char *tag, const char *name, const char *codePage, const char *expected) {
        QTest::newRow(tag) << QByteArray(name) << QByteArray(codePage) << QString::fromUtf8(expected);
    };
    row("936, GBK valid as two-byte UTF-8", "\xD2\xBB\xC2\xA5", "GBK", "一楼");
    row("936, GBK valid as UTF-8 in Extension A", "\xE4\xB1\xB9\xE3\xB3\xA1", "GBK", "浔广场");
    row("936, GBK valid as UTF-8 in a rare block", "\xE4\xB8\xBB\xE1\xB3\xA1", "GBK", "涓会场");
    row("936, UTF-8 accented", "Caf\xC3\xA9", "GBK", "Café");
    row("936, UTF-8 sign",
        "25\xC2\xB0"
        "C",
        "GBK", "25°C");
    row("936, UTF-8 Cyrillic", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", "GBK", "Привет");
    row("936, UTF-8 Chinese, odd byte count", "\xE5\xB9\xBF\xE6\x92\xAD\xE5\xAE\xA4", "GBK", "广播室");
    row("936, UTF-8 Chinese, even byte count", "\xE4\xB8\x80\xE6\xA5\xBC", "GBK", "一楼");
    row("936, cp1252 lead byte before the quote", "Caf\xE9", "GBK", "Caf\uFFFD");
    row("936, ambiguous: Cyrillic of common pairs", "\xD0\xBA\xD0\xB8\xD0\xBD\xD0\xBE", "GBK", "泻懈薪芯");
    row("950, UTF-8 accented", "Caf\xC3\xA9", "Big5", "Café");
    row("950, Big5", "\xA4\xA4\xA4\xE5", "Big5", "中文");
    row("932, UTF-8 accented", "Caf\xC3\xA9", "Shift_JIS", "Café");
    row("932, Shift-JIS, trail byte a backslash", "\x95\x5C\x8E\xA6", "Shift_JIS", "表示");
    row("949, UTF-8 accented", "Caf\xC3\xA9", "EUC-KR", "Café");
    row("949, UTF-8 Greek", "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xAC\xCE\xB4\xCE\xB1", "EUC-KR", "Ελλάδα");
    row("1252, UTF-8 accented", "Caf\xC3\xA9", "windows-1252", "Café");
    row("1252, cp1252 accented", "Caf\xE9", "windows-1252", "Café");
    row("1252, GBK valid as UTF-8", "\xD2\xBB\xC2\xA5", "windows-1252", "\u04BB\u00A5");
}

void TestMessages::decodeReply()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, codePage);
    QFETCH(QString, expected);
    QTextCodec *codec = QTextCodec::codecForName(codePage);
    QVERIFY(codec);
    const QByteArray type = encodeGBK(QStringLiteral("大厅"));
    const QByteArray datagram = R"({"display_name":")" + name + R"(","user_devtype_name":")" + type + R"("})";
    const auto decoded = [codec](const QByteArray &bytes) {
        return QJsonDocument::fromJson(::decodeReply(bytes, codec).toUtf8()).object();
    };
    const QJsonObject object = decoded(datagram);
    QCOMPARE(object.value("display_name").toString(), expected);
    const QString typeAlone
        = decoded(R"({"user_devtype_name":")" + type + R"("})").value("user_devtype_name").toString();
    QCOMPARE(
        object.value("user_devtype_name").toString(), codePage == "GBK" ? QStringLiteral("大厅") : typeAlone);
}

void TestMessages::parseSearchResponse_data()
{
    QTest::addColumn<QJsonObject>("overrides");
    QTest::addColumn<QStringList>("removed");
    QTest::addColumn<int>("result");
    // Members checked after the call; the others are not looked at.
    QTest::addColumn<QVariantMap>("expected");

    QTest::newRow("complete, user type wins") << QJsonObject() << QStringList() << 0 << replyValues();
    QTest::newRow("only custom type") << QJsonObject() << QStringList { "user_devtype_name" } << 0
                                      << QVariantMap { { "typeName", "Ceiling" } };
    QTest::newRow("only user type") << QJsonObject() << QStringList { "custom_devtype_name" } << 0
                                    << QVariantMap { { "typeName", "Lobby speaker" } };
    QTest::newRow("empty user type wins") << QJsonObject { { "user_devtype_name", "" } } << QStringList() << 0
                                          << QVariantMap { { "typeName", "" } };

    const std::pair<const char *, int> missing[] = {
        { "vendor_devtype_name", -1 },
        { "dev_status", -3 },
        { "dhcp", -4 },
        { "ipaddr", -5 },
        { "subnet_mask", -6 },
        { "gateway", -7 },
        { "macaddr", -8 },
        { "http_Port", -9 },
        { "user_account", -10 },
        { "display_name", -11 },
        { "sip_port", -12 },
    };
    for (const auto &[key, code] : missing)
        QTest::addRow("missing %s", key) << QJsonObject() << QStringList { key } << code << QVariantMap();
    QTest::newRow("missing both type names")
        << QJsonObject() << QStringList { "custom_devtype_name", "user_devtype_name" } << -2
        << QVariantMap { { "vendorTypeName", "SA-100" } };
    QTest::newRow("first missing wins")
        << QJsonObject() << QStringList { "vendor_devtype_name", "dhcp", "sip_port" } << -1
        << QVariantMap { { "typeName", "" } };
    QTest::newRow("earlier members kept")
        << QJsonObject() << QStringList { "gateway", "display_name" } << -7
        << QVariantMap { { "ipAddr", "198.51.100.7" }, { "subnetMask", "255.255.255.0" }, { "macAddr", "" } };
    QTest::newRow("http_port lower case")
        << QJsonObject { { "http_port", 8080 } } << QStringList { "http_Port" } << -9 << QVariantMap();

    QTest::newRow("dhcp 1") << QJsonObject { { "dhcp", 1 } } << QStringList() << 0
                            << QVariantMap { { "dhcp", false } };
    QTest::newRow("dhcp \"true\"") << QJsonObject { { "dhcp", "true" } } << QStringList() << 0
                                   << QVariantMap { { "dhcp", false } };
    QTest::newRow("status \"2\"") << QJsonObject { { "dev_status", "2" } } << QStringList() << 0
                                  << QVariantMap { { "status", 0 } };
    QTest::newRow("status true") << QJsonObject { { "dev_status", true } } << QStringList() << 0
                                 << QVariantMap { { "status", 0 } };
    QTest::newRow("status null") << QJsonObject { { "dev_status", QJsonValue::Null } } << QStringList() << 0
                                 << QVariantMap { { "status", 0 } };
    // Every integer member: only whole numbers within int's range are taken, anything else reads as 0.
    const std::pair<const char *, const char *> integerMembers[]
        = { { "dev_status", "status" }, { "http_Port", "httpPort" }, { "sip_port", "sipPort" } };
    const std::tuple<const char *, double, int> numbers[] = { { "-1", -1, -1 }, { "-0.0", -0.0, 0 },
        { "5060.5", 5060.5, 0 }, { "1e300", 1e300, 0 }, { "-1e300", -1e300, 0 },
        { "2147483647", INT_MAX, INT_MAX }, { "-2147483648", INT_MIN, INT_MIN },
        { "2147483648", 2147483648.0, 0 }, { "-2147483649", -2147483649.0, 0 } };
    for (const auto &[key, member] : integerMembers) {
        for (const auto &[name, number, value] : numbers)
            QTest::addRow("%s %s", key, name)
                << QJsonObject { { key, number } } << QStringList() << 0 << QVariantMap { { member, value } };
    }
    QTest::newRow("text members of other types")
        << QJsonObject { { "ipaddr", 5 }, { "display_name", QJsonValue::Null },
               { "vendor_devtype_name", QJsonArray { "x" } }, { "macaddr", QJsonObject() },
               { "user_account", true } }
        << QStringList() << 0
        << QVariantMap { { "ipAddr", "" }, { "displayName", "" }, { "vendorTypeName", "" }, { "macAddr", "" },
               { "sipAccount", "" } };
    QTest::newRow("user type of other type wins") << QJsonObject { { "user_devtype_name", 7 } }
                                                  << QStringList() << 0 << QVariantMap { { "typeName", "" } };
}

void TestMessages::parseSearchResponse()
{
    QFETCH(QJsonObject, overrides);
    QFETCH(QStringList, removed);
    QFETCH(int, result);
    QFETCH(QVariantMap, expected);

    AudioDevice device;
    LogCapture log;
    QCOMPARE(window->parseSearchResponse(reply(overrides, removed), &device), result);
    QCOMPARE(log.lines(), QStringList { "parseSearchResponse" });
    const QVariantMap actual = recordValues(device);
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        QCOMPARE(it.key() + '=' + actual.value(it.key()).toString(), it.key() + '=' + it.value().toString());
}

void TestMessages::parseResponse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("rows");

    const QStringList accepted { "false", "\"search\"", "parseSearchResponse", deviceLine, recordAddress };
    QTest::newRow("not JSON") << R"({"request": false,)" << QStringList() << 0;
    QTest::newRow("array") << "[" + replyText() + "]" << QStringList() << 0;
    QTest::newRow("empty") << QString() << QStringList() << 0;
    QTest::newRow("bare string") << R"("search")" << QStringList() << 0;
    QTest::newRow("no request") << replyText({}, { "request" }) << QStringList { "request not found!" } << 0;
    QTest::newRow("request true") << replyText({ { "request", true } }) << QStringList { "true" } << 0;
    QTest::newRow("own search request")
        << QString::fromUtf8(MainWindow::searchRequestBytes()) << QStringList { "true" } << 0;
    // Only the boolean true makes a request; any other "request" is a reply.
    const std::pair<const char *, QJsonValue> notTrue[] = { { "\"no\"", "no" }, { "\"true\"", "true" },
        { "null", QJsonValue::Null }, { "0", 0 }, { "1", 1 }, { "[true]", QJsonArray { true } },
        { "object", QJsonObject { { "request", true } } }, { "false", false } };
    for (const auto &[name, value] : notTrue)
        QTest::addRow("request %s", name) << replyText({ { "request", value } }) << accepted << 1;
    QTest::newRow("no command") << replyText({}, { "command" })
                                << QStringList { "false", "command not found!" } << 0;
    // Only the exact string "search" adds a row; a command that is no string reads as "".
    const std::tuple<const char *, QJsonValue, const char *> otherCommands[]
        = { { "5", 5, R"("")" }, { "null", QJsonValue::Null, R"("")" }, { "true", true, R"("")" },
              { "false", false, R"("")" }, { "[\"search\"]", QJsonArray { "search" }, R"("")" },
              { "object", QJsonObject { { "command", "search" } }, R"("")" },
              { "\"Search\"", "Search", R"("Search")" }, { "\"SEARCH\"", "SEARCH", R"("SEARCH")" },
              { "\"search \"", "search ", R"("search ")" } };
    for (const auto &[name, value, line] : otherCommands)
        QTest::addRow("command %s", name)
            << replyText({ { "command", value } }) << QStringList { "false", line } << 0;
    QTest::newRow("search reply missing member")
        << replyText({}, { "sip_port" }) << QStringList { "false", "\"search\"", "parseSearchResponse" } << 0;
    QTest::newRow("search reply") << replyText() << accepted << 1;
    // Beyond double, Qt's parser gives up on the whole document.
    QTest::newRow("http_Port 1e400") << replyText().replace("8080", "1e400") << QStringList() << 0;
    QTest::newRow("config_net reply")
        << R"({"request": false, "command": "config_net"})"
        << QStringList { "false", "\"config_net\"", "parseConfigNetResponse" } << 0;
}

void TestMessages::parseResponse()
{
    QFETCH(QString, text);
    QFETCH(QStringList, lines);
    QFETCH(int, rows);

    LogCapture log;
    window->parseResponse(text);
    QStringList actual = log.lines();
    QCOMPARE(table->rowCount(), rows);
    const int addressAt = lines.indexOf(recordAddress);
    if (addressAt >= 0 && addressAt < actual.size()) {
        QCOMPARE(actual.at(addressAt), QString::number(quint32(quintptr(rowRecord(0))), 16));
        actual[addressAt] = recordAddress;
    }
    QCOMPARE(actual, lines);
}

void TestMessages::searchReplyAddsRow()
{
    LogCapture quiet;
    window->parseResponse(replyText());

    QCOMPARE(table->rowCount(), 1);
    const QStringList texts { "1001", "Name", "Lobby speaker", "198.51.100.7", "enable", "02:00:00:00:00:01",
        "file playing", "8080", "5060" };
    for (int column = 0; column < texts.size(); ++column) {
        const QTableWidgetItem *item = table->item(0, column);
        QVERIFY(item);
        QCOMPARE(item->text(), texts.at(column));
        QCOMPARE(item->textAlignment(), int(Qt::AlignHCenter | Qt::AlignVCenter));
        QCOMPARE(item->type(), int(QTableWidgetItem::Type));
        QCOMPARE(item->icon().isNull(), column != 0);
    }
    // The icon must come from the embedded image, not just name a missing file.
    QVERIFY(!table->item(0, 0)->icon().pixmap(16, 16).isNull());

    const QVariant data = table->item(0, 0)->data(Qt::UserRole);
    QCOMPARE(data.userType(), int(QMetaType::VoidStar));
    const AudioDevice *record = rowRecord(0);
    QVERIFY(record);
    QCOMPARE(record->parent(), nullptr);
    QCOMPARE(recordValues(*record), replyValues());

    // Adding a row neither selects it nor makes it current.
    QCOMPARE(table->currentRow(), -1);
    QVERIFY(table->selectedItems().isEmpty());
}

void TestMessages::rowCellText_data()
{
    QTest::addColumn<QJsonObject>("overrides");
    QTest::addColumn<QStringList>("removed");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("text");

    const char *const statusTexts[]
        = { "idle", "rtp playing", "calling", "calling", "calling", "paging", "file playing" };
    for (int status = 0; status < 7; ++status)
        QTest::addRow("status %d", status) << QJsonObject { { "dev_status", status } } << QStringList() << 6
                                           << QString::fromLatin1(statusTexts[status]);
    QTest::newRow("status 7") << QJsonObject { { "dev_status", 7 } } << QStringList() << 6 << "7";
    QTest::newRow("status -1") << QJsonObject { { "dev_status", -1 } } << QStringList() << 6 << "-1";
    QTest::newRow("dhcp false") << QJsonObject { { "dhcp", false } } << QStringList() << 4 << "disable";
    QTest::newRow("dhcp 1") << QJsonObject { { "dhcp", 1 } } << QStringList() << 4 << "disable";
    QTest::newRow("both type names empty")
        << QJsonObject { { "custom_devtype_name", "" }, { "user_devtype_name", "" } } << QStringList() << 2
        << "SA-100";
    // An empty user type still replaces the custom one, so the vendor's shows.
    QTest::newRow("empty user type") << QJsonObject { { "user_devtype_name", "" } } << QStringList() << 2
                                     << "SA-100";
    QTest::newRow("only custom type")
        << QJsonObject() << QStringList { "user_devtype_name" } << 2 << "Ceiling";
    QTest::newRow("Chinese type") << QJsonObject { { "user_devtype_name", "会议室" } } << QStringList() << 2
                                  << "会议室";
    QTest::newRow("http port 80") << QJsonObject { { "http_Port", 80 } } << QStringList() << 7 << "80";
    QTest::newRow("sip port fraction") << QJsonObject { { "sip_port", 5060.5 } } << QStringList() << 8 << "0";
}

void TestMessages::rowCellText()
{
    QFETCH(QJsonObject, overrides);
    QFETCH(QStringList, removed);
    QFETCH(int, column);
    QFETCH(QString, text);

    LogCapture quiet;
    window->parseResponse(replyText(overrides, removed));
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(table->item(0, column)->text(), text);
}

void TestMessages::duplicateMac_data()
{
    QTest::addColumn<QStringList>("macs");
    QTest::addColumn<QStringList>("listed");

    QTest::newRow("same MAC twice") << QStringList { "02:00:00:00:00:01", "02:00:00:00:00:01" }
                                    << QStringList { "02:00:00:00:00:01" };
    QTest::newRow("case differs") << QStringList { "02:00:00:00:00:0a", "02:00:00:00:00:0A" }
                                  << QStringList { "02:00:00:00:00:0a", "02:00:00:00:00:0A" };
    QTest::newRow("separators differ") << QStringList { "02:00:00:00:00:01", "02-00-00-00-00-01" }
                                       << QStringList { "02:00:00:00:00:01", "02-00-00-00-00-01" };
    QTest::newRow("first MAC again later") << QStringList { "A", "B", "A" } << QStringList { "A", "B" };
}

void TestMessages::duplicateMac()
{
    QFETCH(QStringList, macs);
    QFETCH(QStringList, listed);

    // Each reply reports its own status and address, so a row shows which reply made it.
    const QStringList statusTexts { "idle", "rtp playing", "calling" };
    LogCapture log;
    for (int i = 0; i < macs.size(); ++i)
        window->parseResponse(replyText({ { "macaddr", macs.at(i) }, { "dev_status", i },
            { "ipaddr", QStringLiteral("198.51.100.%1").arg(10 + i) } }));

    QCOMPARE(table->rowCount(), listed.size());
    for (int row = 0; row < listed.size(); ++row) {
        const int first = macs.indexOf(listed.at(row));
        QCOMPARE(table->item(row, 5)->text(), listed.at(row));
        QCOMPARE(table->item(row, 3)->text(), QStringLiteral("198.51.100.%1").arg(10 + first));
        QCOMPARE(table->item(row, 6)->text(), statusTexts.at(first));
        QCOMPARE(rowRecord(row)->ipAddr, table->item(row, 3)->text());
    }
    // Only rows that were added log a record address.
    const QStringList addresses = log.lines().filter(QRegularExpression("^[0-9a-f]+$"));
    QCOMPARE(addresses.size(), listed.size());
}

void TestMessages::configNetReply_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("label");

    const QString success = QStringLiteral("config device(AA:BB) network parameter success.");
    QTest::newRow("mac text") << R"({"request": false, "command": "config_net", "macaddr": "AA:BB"})"
                              << success;
    QTest::newRow("result not read")
        << R"({"request": false, "command": "config_net", "macaddr": "AA:BB", "result": -1})" << success;
    QTest::newRow("request \"no\"") << R"({"request": "no", "command": "config_net", "macaddr": "AA:BB"})"
                                    << success;
    QTest::newRow("mac number") << R"({"request": false, "command": "config_net", "macaddr": 5})"
                                << "config device() network parameter success.";
    QTest::newRow("markup in mac") << R"({"request": false, "command": "config_net", "macaddr": "<b>x</b>"})"
                                   << "config device(<b>x</b>) network parameter success.";
    QTest::newRow("no mac") << R"({"request": false, "command": "config_net"})" << pendingText;
    QTest::newRow("request true") << R"({"request": true, "command": "config_net", "macaddr": "AA:BB"})"
                                  << pendingText;
    NetworkConfig config;
    fillConfig(config, false, "198.51.100.7", "255.255.255.0", "198.51.100.254", "02:00:00:00:00:01", 80);
    QTest::newRow("own request echoed")
        << QString::fromUtf8(MainWindow::configNetRequestBytes(config)) << pendingText;
}

void TestMessages::configNetReply()
{
    QFETCH(QString, text);
    QFETCH(QString, label);

    LogCapture quiet;
    NetworkConfig config;
    fillConfig(config, false, "198.51.100.7", "255.255.255.0", "198.51.100.254", "02:00:00:00:00:01", 80);
    window->sendConfigNetRequest(config);
    QCOMPARE(statusLabel->text(), pendingText);

    window->parseResponse(text);
    QCOMPARE(statusLabel->text(), label);
    // Device texts are never read as markup.
    QCOMPARE(statusLabel->textFormat(), Qt::PlainText);
    QCOMPARE(table->rowCount(), 0);
}

QTEST_MAIN(TestMessages)
#include "tst_messages.moc"
