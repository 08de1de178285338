// The device simulator against real multicast between the two sides of a sandbox LAN.
#include "netns/devsimprocess.h"
#include "netns/testnetworkguard.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QProcess>
#include <QSet>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCodec>
#include <QUdpSocket>

#include <algorithm>
#include <utility>

namespace {

const QHostAddress discoveryGroup(QStringLiteral("239.255.255.250"));
constexpr quint16 discoveryPort = 65176;
const QHostAddress lanAddress(QStringLiteral("198.51.100.100"));
const QHostAddress firstAppAddress(QStringLiteral("198.51.100.1"));
const QHostAddress secondAppAddress(QStringLiteral("198.51.100.2"));

const QByteArray varnittSearch = "{\n    \"command\": \"search\",\n    \"delay_max\": 500,\n"
                                 "    \"multicast\": true,\n    \"request\": true\n}\n";

// Replies may land this much after the device's own deadline on a busy machine.
constexpr int slackMs = 200;
// Quiet time after the expected count arrived, to catch extra datagrams.
constexpr int settleMs = 60;

QByteArray request(const QJsonObject &members)
{
    return QJsonDocument(members).toJson(QJsonDocument::Indented);
}

QByteArray searchWithDelay(const QJsonValue &delayMax)
{
    return request(
        { { "command", "search" }, { "request", true }, { "multicast", true }, { "delay_max", delayMax } });
}

QByteArray configNetRequest(const QString &mac, const QJsonObject &members)
{
    QJsonObject message = members;
    message.insert("command", "config_net");
    message.insert("request", true);
    message.insert("multicast", true);
    message.insert("macaddr", mac);
    return request(message);
}

struct Reply {
    qint64 atMs;
    QHostAddress sender;
    quint16 senderPort;
    QByteArray bytes;

    QJsonObject object() const
    {
        return QJsonDocument::fromJson(bytes).object();
    }
    QString mac() const
    {
        return object().value("macaddr").toString();
    }
};

// A discovery socket as Varnitt opens it: bound to one app address, any port.
class Client {
public:
    explicit Client(const QHostAddress &address, int ttl = 1)
    {
        m_socket.bind(address, 0, QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint);
        m_socket.setSocketOption(QAbstractSocket::MulticastTtlOption, ttl);
        m_socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4 << 20);
        m_clock.start();
    }

    bool isBound() const
    {
        return m_socket.state() == QAbstractSocket::BoundState;
    }
    quint16 port() const
    {
        return m_socket.localPort();
    }
    qint64 elapsed() const
    {
        return m_clock.elapsed();
    }

    // Sends to the group; reply times count from the last send.
    void send(const QByteArray &payload)
    {
        m_socket.writeDatagram(payload, discoveryGroup, discoveryPort);
        m_sentAt = m_clock.elapsed();
    }

    void drain()
    {
        while (m_socket.hasPendingDatagrams()) {
            const QNetworkDatagram datagram = m_socket.receiveDatagram();
            m_replies.append(Reply { m_clock.elapsed() - m_sentAt, datagram.senderAddress(),
                static_cast<quint16>(datagram.senderPort()), datagram.data() });
        }
    }

    QList<Reply> take()
    {
        drain();
        return std::exchange(m_replies, {});
    }
    int pending() const
    {
        return m_replies.size();
    }

private:
    QUdpSocket m_socket;
    QElapsedTimer m_clock;
    QList<Reply> m_replies;
    qint64 m_sentAt = 0;
};

// Waits until the clients together hold expected replies (then a short quiet
// time), or until timeoutMs; a negative expected always waits the full time.
void collect(const QList<Client *> &clients, int expected, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    qint64 reachedAt = -1;
    while (clock.elapsed() < timeoutMs) {
        QTest::qWait(5);
        int total = 0;
        for (Client *client : clients) {
            client->drain();
            total += client->pending();
        }
        if (expected >= 0 && total >= expected && reachedAt < 0)
            reachedAt = clock.elapsed();
        if (reachedAt >= 0 && clock.elapsed() - reachedAt >= settleMs)
            break;
    }
}

QList<Reply> collectFrom(Client &client, int expected, int timeoutMs)
{
    collect({ &client }, expected, timeoutMs);
    return client.take();
}

// The members a search reply must carry, with the type names counted as one.
const QStringList replyMembers = { "vendor_devtype_name", "custom_devtype_name", "dev_status", "dhcp",
    "ipaddr", "subnet_mask", "gateway", "macaddr", "http_Port", "user_account", "display_name", "sip_port" };

// Names the missing members of a search reply ("" when complete), joined by "+".
QString missingMembers(const QJsonObject &reply)
{
    QStringList missing;
    for (const QString &key : replyMembers) {
        if (key == "custom_devtype_name") {
            if (!reply.contains(key) && !reply.contains("user_devtype_name"))
                missing << key;
        } else if (!reply.contains(key)) {
            missing << key;
        }
    }
    return missing.join('+');
}

bool isCompleteSearchReply(const QByteArray &bytes)
{
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    if (!document.isObject())
        return false;
    const QJsonObject reply = document.object();
    return reply.value("request") == QJsonValue(false) && reply.value("command") == "search"
        && missingMembers(reply).isEmpty() && reply.value("dev_status").isDouble()
        && reply.value("dhcp").isBool() && reply.value("http_Port").isDouble()
        && reply.value("sip_port").isDouble() && reply.value("macaddr").isString()
        && reply.value("ipaddr").isString() && reply.value("display_name").isString();
}

QHash<QString, QJsonObject> byMac(const QList<Reply> &replies)
{
    QHash<QString, QJsonObject> devices;
    for (const Reply &reply : replies)
        devices.insert(reply.mac(), reply.object());
    return devices;
}

// A connection to the simulator control server, speaking its JSON lines directly.
class ControlClient {
public:
    ControlClient()
    {
        const QString control = qEnvironmentVariable("VARNITT_DEVSIM_CONTROL");
        m_socket.connectToHost(control.section(':', 0, 0), control.section(':', 1).toUShort());
    }
    bool connected()
    {
        return m_socket.waitForConnected(5000);
    }
    void send(const QByteArray &line)
    {
        m_socket.write(line + '\n');
    }
    // The next event, as "kind:message" or "exit:code"; empty if none came in time.
    QString nextEvent()
    {
        while (!m_socket.canReadLine()) {
            if (!m_socket.waitForReadyRead(10000))
                return QString();
        }
        const QJsonObject event = QJsonDocument::fromJson(m_socket.readLine()).object();
        const QString kind = event.value("event").toString();
        if (kind == "exit")
            return kind + ':' + QString::number(event.value("code").toInt(-1));
        return kind + ':' + event.value("message").toString();
    }
    void abort()
    {
        m_socket.abort();
    }

private:
    QTcpSocket m_socket;
};

// True while a process of this sandbox has this argument.
bool runsWithArgument(const QByteArray &argument)
{
    const QStringList pids = QDir("/proc").entryList({ "[0-9]*" }, QDir::Dirs);
    for (const QString &pid : pids) {
        QFile file("/proc/" + pid + "/cmdline");
        if (file.open(QIODevice::ReadOnly) && file.readAll().split('\0').contains(argument))
            return true;
    }
    return false;
}

// What the control server keeps for its clients in its folder of the sandbox's /tmp; -1
// when there is not exactly one such folder.
int controlServerFiles()
{
    const QStringList folders = QDir::temp().entryList({ "varnitt-devsim-control-*" }, QDir::Dirs);
    if (folders.size() != 1)
        return -1;
    QDirIterator entries(QDir::temp().filePath(folders.first()), QDir::AllEntries | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    int count = 0;
    for (; entries.hasNext(); entries.next())
        ++count;
    return count;
}

} // namespace

class tst_DevSim : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void commandLine_data();
    void commandLine();
    void recordsRequest_data();
    void recordsRequest();
    void searchAnswers_data();
    void searchAnswers();
    void repliesGoToEverySource();
    void configNet_data();
    void configNet();
    void misbehaviour_data();
    void misbehaviour();
    void incompleteReplies_data();
    void incompleteReplies();
    void firstAnswerDelay();
    void devicesFromFile_data();
    void devicesFromFile();
    void controlRequests_data();
    void controlRequests();
    void controlClientGone();

private:
    QTemporaryDir m_files;
};

void tst_DevSim::initTestCase()
{
    testnetwork::requireTestNetwork("tst_devsim");
    if (!DevSimProcess::harnessPresent())
        QFAIL("needs the test LAN and its simulator control server (tests/sandbox.sh lan --devsim)");
    QVERIFY(m_files.isValid());
}

void tst_DevSim::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("output");

    QTest::newRow("help") << QStringList { "--help" } << 0 << QByteArray("--first-answer-delay");
    QTest::newRow("unknown option") << QStringList { "--bogus" } << 2 << QByteArray();
    QTest::newRow("drop share over 100") << QStringList { "--drop-percent", "101" } << 2 << QByteArray();
    QTest::newRow("count not a number") << QStringList { "--count", "ten" } << 2 << QByteArray();
    QTest::newRow("unknown member") << QStringList { "--incomplete", "10", "--missing-member", "x",
        "--interface", "lo" } << 1 << QByteArray();
    QTest::newRow("devices file missing")
        << QStringList { "--devices", "/nonexistent/devices.json", "--interface", "lo" } << 1 << QByteArray();
    QTest::newRow("no --interface") << QStringList { "--count", "1" } << 2 << QByteArray();
    QTest::newRow("unknown interface") << QStringList { "--interface", "nosuchif0" } << 1 << QByteArray();
    QTest::newRow("no control mode") << QStringList { "--control", "65177", "--interface", "lo" } << 2
                                     << QByteArray();
}

void tst_DevSim::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, output);

    // Runs in the app namespace: nothing here must get as far as "ready".
    QProcess process;
    process.start(QStringLiteral(VARNITT_DEVSIM), arguments);
    QVERIFY(process.waitForFinished(5000));
    const QByteArray printed = process.readAllStandardOutput();
    QCOMPARE(process.exitCode(), exitCode);
    QVERIFY(!printed.split('\n').contains("ready"));
    QVERIFY2(printed.contains(output), printed.constData());
    if (exitCode != 0)
        QVERIFY(!process.readAllStandardError().isEmpty());
}

void tst_DevSim::recordsRequest_data()
{
    QTest::addColumn<QString>("fromText");
    QTest::addColumn<int>("ttl");
    QTest::addColumn<QByteArray>("payload");

    const QString first = firstAppAddress.toString();
    QTest::newRow("search, TTL 1") << first << 1 << varnittSearch;
    QTest::newRow("search from the second address, TTL 3")
        << secondAppAddress.toString() << 3 << varnittSearch;
    QTest::newRow("config_net") << first << 1 << configNetRequest("02:00:00:00:00:01", { { "dhcp", false } });
    QTest::newRow("not UTF-8") << first << 1 << QByteArray::fromHex("ff00fe7b0a");
    QTest::newRow("empty") << first << 1 << QByteArray();
}

void tst_DevSim::recordsRequest()
{
    QFETCH(QString, fromText);
    const QHostAddress from(fromText);
    QFETCH(int, ttl);
    QFETCH(QByteArray, payload);

    DevSimProcess simulator;
    QVERIFY2(simulator.start({ "--count", "0" }), qPrintable(simulator.errorString()));
    Client client(from, ttl);
    QVERIFY(client.isBound());
    client.send(payload);
    QVERIFY(simulator.waitForRecorded(1));
    QTest::qWait(50);

    const QList<RecordedDatagram> recorded = simulator.recorded();
    QCOMPARE(recorded.size(), 1);
    QCOMPARE(recorded.at(0).bytes, payload);
    QCOMPARE(recorded.at(0).source, from);
    QCOMPARE(recorded.at(0).port, client.port());
    QCOMPARE(recorded.at(0).ttl, ttl);
    QCOMPARE(recorded.at(0).destination, discoveryGroup);
    QVERIFY(recorded.at(0).timeMs > 0);
    QVERIFY2(simulator.stop(), "the simulator did not exit cleanly on SIGTERM");
}

void tst_DevSim::searchAnswers_data()
{
    QTest::addColumn<int>("devices");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("delayMax");

    QTest::newRow("one device, Varnitt's request") << 1 << varnittSearch << 500;
    QTest::newRow("40 devices, delay_max 150") << 40 << searchWithDelay(150) << 150;
    QTest::newRow("delay_max 0 answers at once") << 40 << searchWithDelay(0) << 0;
    QTest::newRow("delay_max missing means 500")
        << 40 << request({ { "command", "search" }, { "request", true } }) << 500;
    QTest::newRow("delay_max as text means 500") << 40 << searchWithDelay("100") << 500;
    QTest::newRow("10000 devices") << 10000 << searchWithDelay(600) << 600;
}

void tst_DevSim::searchAnswers()
{
    QFETCH(int, devices);
    QFETCH(QByteArray, payload);
    QFETCH(int, delayMax);

#if defined(__SANITIZE_ADDRESS__)
    // A sanitized client cannot drain 10,000 replies in half a second; that is not the simulator's fault.
    if (devices > 1000)
        QSKIP("too slow under the sanitizers");
#endif
    DevSimProcess simulator;
    QVERIFY2(
        simulator.start({ "--count", QString::number(devices) }, 30000), qPrintable(simulator.errorString()));
    Client client(firstAppAddress);
    client.send(payload);
    const QList<Reply> replies = collectFrom(client, devices, delayMax + slackMs + 300);

    QCOMPARE(replies.size(), devices);
    QSet<QString> macs;
    qint64 earliest = delayMax + slackMs;
    qint64 latest = 0;
    for (const Reply &reply : replies) {
        QCOMPARE(reply.sender, lanAddress);
        QCOMPARE(reply.senderPort, discoveryPort);
        QVERIFY2(isCompleteSearchReply(reply.bytes), reply.bytes.constData());
        QVERIFY2(!reply.bytes.contains('\n'), "replies are compact JSON");
        macs.insert(reply.mac());
        earliest = std::min(earliest, reply.atMs);
        latest = std::max(latest, reply.atMs);
    }
    QCOMPARE(macs.size(), devices);
    QVERIFY2(latest <= delayMax + slackMs, qPrintable(QString::number(latest)));
    // Forty uniform delays all in one half of the range would be a 1 in 2^39 fluke.
    if (devices >= 40 && delayMax >= 100) {
        QVERIFY2(latest >= delayMax / 2, qPrintable(QString::number(latest)));
        QVERIFY2(earliest < delayMax / 2, qPrintable(QString::number(earliest)));
    }
    QVERIFY(simulator.stop());
}

void tst_DevSim::repliesGoToEverySource()
{
    DevSimProcess simulator;
    // Named explicitly, the LAN interface must serve as the default choice does.
    QVERIFY2(simulator.start({ "--count", "10", "--interface", qEnvironmentVariable("VARNITT_LAN_IF") }),
        qPrintable(simulator.errorString()));
    Client first(firstAppAddress);
    Client second(secondAppAddress);
    first.send(searchWithDelay(50));
    second.send(searchWithDelay(50));
    collect({ &first, &second }, 20, 50 + slackMs + 200);

    for (Client *client : { &first, &second }) {
        const QList<Reply> replies = client->take();
        QCOMPARE(replies.size(), 10);
        QCOMPARE(byMac(replies).size(), 10);
    }
    const QList<RecordedDatagram> recorded = simulator.recorded();
    QCOMPARE(recorded.size(), 2);
    QCOMPARE(QSet<QHostAddress>({ recorded.at(0).source, recorded.at(1).source }),
        QSet<QHostAddress>({ firstAppAddress, secondAppAddress }));
}

void tst_DevSim::configNet_data()
{
    QTest::addColumn<QString>("mac");
    QTest::addColumn<QJsonObject>("members");
    QTest::addColumn<bool>("fromBothAddresses");
    QTest::addColumn<bool>("answered");
    QTest::addColumn<QJsonObject>("changes");
    QTest::addColumn<QStringList>("deviceArguments");

    const QJsonObject all = { { "dhcp", true }, { "ipaddr", "198.51.100.150" },
        { "subnet_mask", "255.255.0.0" }, { "gateway", "198.51.100.9" }, { "http_port", 8081 } };
    const QJsonObject allChanged = { { "dhcp", true }, { "ipaddr", "198.51.100.150" },
        { "subnet_mask", "255.255.0.0" }, { "gateway", "198.51.100.9" }, { "http_Port", 8081 } };
    QTest::newRow("known device takes every member")
        << "02:00:00:00:00:02" << all << false << true << allChanged << QStringList();
    QTest::newRow("one copy per socket, each answered")
        << "02:00:00:00:00:02" << all << true << true << allChanged << QStringList();
    QTest::newRow("unknown device ignored")
        << "02:00:00:00:09:99" << all << true << false << QJsonObject() << QStringList();
    QTest::newRow("members of the wrong type left alone")
        << "02:00:00:00:00:03"
        << QJsonObject { { "dhcp", 1 }, { "ipaddr", 198 }, { "subnet_mask", QJsonValue() },
               { "gateway", "198.51.100.7" }, { "http_port", "8081" } }
        << false << true << QJsonObject { { "gateway", "198.51.100.7" } } << QStringList();
    QTest::newRow("reply spelling of the port key not taken")
        << "02:00:00:00:00:01" << QJsonObject { { "http_Port", 9090 } } << false << true << QJsonObject()
        << QStringList();
    QTest::newRow("port out of range not taken")
        << "02:00:00:00:00:01" << QJsonObject { { "http_port", 70000 } } << false << true << QJsonObject()
        << QStringList();
    QTest::newRow("device that ignores config_net")
        << "02:00:00:00:00:02" << all << false << false << QJsonObject() << QStringList { "--ignore-config" };
}

void tst_DevSim::configNet()
{
    QFETCH(QString, mac);
    QFETCH(QJsonObject, members);
    QFETCH(bool, fromBothAddresses);
    QFETCH(bool, answered);
    QFETCH(QJsonObject, changes);
    QFETCH(QStringList, deviceArguments);

    DevSimProcess simulator;
    QVERIFY2(simulator.start(QStringList { "--count", "3", "--reply-delay", "0" } + deviceArguments),
        qPrintable(simulator.errorString()));
    Client first(firstAppAddress);
    Client second(secondAppAddress);
    first.send(varnittSearch);
    const QHash<QString, QJsonObject> before = byMac(collectFrom(first, 3, 1000));
    QCOMPARE(before.size(), 3);

    QList<Client *> senders { &first };
    if (fromBothAddresses)
        senders << &second;
    for (Client *sender : senders)
        sender->send(configNetRequest(mac, members));
    collect(senders, answered ? senders.size() : -1, 300);
    const QJsonObject expectedReply { { "request", false }, { "command", "config_net" }, { "macaddr", mac } };
    for (Client *sender : senders) {
        const QList<Reply> replies = sender->take();
        QCOMPARE(replies.size(), answered ? 1 : 0);
        if (answered) {
            QCOMPARE(replies.at(0).object(), expectedReply);
            QCOMPARE(replies.at(0).sender, lanAddress);
        }
    }

    first.send(varnittSearch);
    const QHash<QString, QJsonObject> after = byMac(collectFrom(first, 3, 1000));
    QHash<QString, QJsonObject> expected = before;
    for (auto it = changes.constBegin(); it != changes.constEnd(); ++it)
        expected[mac].insert(it.key(), it.value());
    QCOMPARE(after, expected);
}

void tst_DevSim::misbehaviour_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("datagrams");
    QTest::addColumn<int>("completeMin");
    QTest::addColumn<int>("completeMax");
    QTest::addColumn<int>("copies");
    QTest::addColumn<QByteArray>("extra");

    const QString rawPath = m_files.filePath("raw.bin");
    const QByteArray raw = QByteArray::fromHex("00ff") + "{\"request\":false,\"command\":";
    QFile rawFile(rawPath);
    QVERIFY(rawFile.open(QIODevice::WriteOnly));
    rawFile.write(raw);
    rawFile.close();

    QTest::newRow("well behaved") << QStringList { "--count", "20" } << 20 << 20 << 20 << 1 << QByteArray();
    QTest::newRow("drop all") << QStringList { "--count", "20", "--drop-percent", "100" } << 0 << 0 << 0 << 1
                              << QByteArray();
    // 400 draws at one half: 140..260 is six standard deviations either way.
    QTest::newRow("drop half") << QStringList { "--count", "400", "--drop-percent", "50" } << -1 << 140 << 260
                               << 1 << QByteArray();
    QTest::newRow("duplicate") << QStringList { "--count", "20", "--duplicate" } << 40 << 40 << 40 << 2
                               << QByteArray();
    QTest::newRow("a quarter incomplete")
        << QStringList { "--count", "40", "--incomplete", "25" } << 40 << 30 << 30 << 1 << QByteArray();
    QTest::newRow("malformed extras")
        << QStringList { "--count", "3", "--malformed" } << 12 << 3 << 3 << 1 << QByteArray();
    QTest::newRow("raw reply") << QStringList { "--count", "3", "--raw-reply", rawPath } << 4 << 3 << 3 << 1
                               << raw;
}

void tst_DevSim::misbehaviour()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, datagrams);
    QFETCH(int, completeMin);
    QFETCH(int, completeMax);
    QFETCH(int, copies);
    QFETCH(QByteArray, extra);

    DevSimProcess simulator;
    QVERIFY2(simulator.start(arguments), qPrintable(simulator.errorString()));
    Client client(firstAppAddress);
    client.send(searchWithDelay(50));
    const int expected = datagrams > 0 ? datagrams : -1;
    const QList<Reply> replies = collectFrom(client, expected, 50 + slackMs + 100);

    if (datagrams >= 0)
        QCOMPARE(replies.size(), datagrams);
    QHash<QString, int> copiesOf;
    int extras = 0;
    for (const Reply &reply : replies) {
        if (isCompleteSearchReply(reply.bytes))
            ++copiesOf[reply.mac()];
        if (!extra.isEmpty() && reply.bytes == extra)
            ++extras;
    }
    int complete = 0;
    for (auto it = copiesOf.constBegin(); it != copiesOf.constEnd(); ++it) {
        QCOMPARE(it.value(), copies);
        complete += it.value();
    }
    QVERIFY2(complete >= completeMin && complete <= completeMax, qPrintable(QString::number(complete)));
    if (!extra.isEmpty())
        QCOMPARE(extras, 1);
}

void tst_DevSim::incompleteReplies_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("missing");

    QStringList everyMember = replyMembers;
    QTest::newRow("each device lacks another member")
        << QStringList { "--count", "12", "--incomplete", "100" } << everyMember;
    QTest::newRow("chosen member") << QStringList { "--count", "4", "--incomplete", "100", "--missing-member",
        "http_Port" } << QStringList { "http_Port", "http_Port", "http_Port", "http_Port" };
    QTest::newRow("half of them, chosen member") << QStringList { "--count", "4", "--incomplete", "50",
        "--missing-member", "macaddr" } << QStringList { "", "", "macaddr", "macaddr" };
    QTest::newRow("only the user type name")
        << QStringList { "--count", "5", "--incomplete", "100", "--missing-member", "user_devtype_name" }
        << QStringList { "", "", "", "", "" };
}

void tst_DevSim::incompleteReplies()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, missing);

    DevSimProcess simulator;
    QVERIFY2(simulator.start(arguments + QStringList { "--reply-delay", "0" }),
        qPrintable(simulator.errorString()));
    Client client(firstAppAddress);
    client.send(varnittSearch);
    QStringList found;
    for (const Reply &reply : collectFrom(client, missing.size(), 1000))
        found << missingMembers(reply.object());
    found.sort();
    missing.sort();
    QCOMPARE(found, missing);
}

void tst_DevSim::firstAnswerDelay()
{
    DevSimProcess simulator;
    QVERIFY2(simulator.start({ "--count", "3", "--first-answer-delay", "600" }),
        qPrintable(simulator.errorString()));
    Client first(firstAppAddress);
    Client second(secondAppAddress);
    QElapsedTimer clock;
    clock.start();
    first.send(searchWithDelay(100));
    QTest::qWait(150);
    const qint64 heldSentAt = clock.elapsed();
    first.send(searchWithDelay(100));
    second.send(searchWithDelay(100));
    // Both held sources are answered once, at the wake-up point and not before.
    collect({ &first, &second }, 6, 600 + slackMs);
    for (Client *client : { &first, &second }) {
        const QList<Reply> replies = client->take();
        QCOMPARE(replies.size(), 3);
        QCOMPARE(byMac(replies).size(), 3);
        for (const Reply &reply : replies) {
            const qint64 arrival = heldSentAt + reply.atMs;
            QVERIFY2(arrival >= 590 && arrival <= 600 + slackMs, qPrintable(QString::number(arrival)));
        }
    }

    first.send(searchWithDelay(100));
    const QList<Reply> later = collectFrom(first, 3, 100 + slackMs + 100);
    QCOMPARE(later.size(), 3);
    for (const Reply &reply : later)
        QVERIFY2(reply.atMs <= 100 + slackMs, qPrintable(QString::number(reply.atMs)));
}

void tst_DevSim::devicesFromFile_data()
{
    QTest::addColumn<QString>("codec");

    QTest::newRow("UTF-8") << "UTF-8";
    QTest::newRow("GBK") << "GBK";
}

void tst_DevSim::devicesFromFile()
{
    QFETCH(QString, codec);

    const QJsonObject named { { "vendor_devtype_name", QString::fromUtf8("网络音箱") },
        { "custom_devtype_name", "SPK" }, { "dev_status", 9 }, { "dhcp", true },
        { "ipaddr", "198.51.100.31" }, { "subnet_mask", "255.255.255.0" }, { "gateway", "198.51.100.254" },
        { "macaddr", "0a:00:00:00:00:01" }, { "http_Port", 80 }, { "user_account", "100" },
        { "display_name", QString::fromUtf8("大厅 Hall") }, { "sip_port", 5060 }, { "request", true },
        { "command", "config_net" }, { "extra", "kept" } };
    const QJsonObject bare { { "macaddr", "0a:00:00:00:00:02" }, { "display_name", "bare" } };
    const QString path = m_files.filePath("devices.json");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(QJsonArray { named, bare }).toJson());
    file.close();

    DevSimProcess simulator;
    QVERIFY2(simulator.start({ "--devices", path, "--codec", codec, "--reply-delay", "0" }),
        qPrintable(simulator.errorString()));
    Client client(firstAppAddress);
    client.send(varnittSearch);
    const QList<Reply> replies = collectFrom(client, 2, 1000);
    QCOMPARE(replies.size(), 2);

    QTextCodec *textCodec = QTextCodec::codecForName(codec.toLatin1());
    QHash<QString, QJsonObject> received;
    for (const Reply &reply : replies) {
        const QJsonObject object
            = QJsonDocument::fromJson(textCodec->toUnicode(reply.bytes).toUtf8()).object();
        received.insert(object.value("macaddr").toString(), object);
        if (object.value("macaddr") == "0a:00:00:00:00:01")
            QVERIFY(reply.bytes.contains(textCodec->fromUnicode(QString::fromUtf8("大厅"))));
    }
    QJsonObject expectedNamed = named;
    expectedNamed.insert("request", false);
    expectedNamed.insert("command", "search");
    QJsonObject expectedBare = bare;
    expectedBare.insert("request", false);
    expectedBare.insert("command", "search");
    QCOMPARE(received.value("0a:00:00:00:00:01"), expectedNamed);
    QCOMPARE(received.value("0a:00:00:00:00:02"), expectedBare);
}

void tst_DevSim::controlRequests_data()
{
    // Each request line, and the event it must bring.
    QTest::addColumn<QByteArrayList>("requests");
    QTest::addColumn<QStringList>("events");

    const QByteArray idle = R"({"arguments":["--count","0","--interface","vnt-lan"]})";
    QTest::newRow("not JSON") << QByteArrayList { "hello" } << QStringList { "error:not a request: " };
    QTest::newRow("arguments not a list")
        << QByteArrayList { R"({"arguments":"--count"})" } << QStringList { "error:not a request: " };
    QTest::newRow("file not base64") << QByteArrayList { R"({"arguments":["--devices",{"file":"*"}]})" }
                                     << QStringList { "error:an argument is neither text nor a file" };
    QTest::newRow("file not text") << QByteArrayList { R"({"arguments":["--devices",{"file":7}]})" }
                                   << QStringList { "error:an argument is neither text nor a file" };
    QTest::newRow("options the simulator refuses")
        << QByteArrayList { R"({"arguments":["--drop-percent","101"]})" } << QStringList { "exit:2" };
    QTest::newRow("stop after the simulator ended")
        << QByteArrayList { R"({"arguments":["--drop-percent","101"]})", R"({"stop":true})" }
        << QStringList { "exit:2", "error:no simulator runs on this connection" };
    QTest::newRow("a path for a file option")
        << QByteArrayList { R"({"arguments":["--raw-reply","/etc/passwd","--interface","vnt-lan"]})" }
        << QStringList { "error:--raw-reply takes a file's contents" };
    QTest::newRow("a path for a file option after =")
        << QByteArrayList { R"({"arguments":["--devices=/etc/passwd","--interface","vnt-lan"]})" }
        << QStringList { "error:--devices takes a file's contents" };
    QTest::newRow("an option the server does not know")
        << QByteArrayList { R"({"arguments":["--bogus","--interface","vnt-lan"]})" }
        << QStringList { "error:not an option a client may give: --bogus" };
    QTest::newRow("the server's own record")
        << QByteArrayList { R"({"arguments":["--record","/tmp/x","--interface","vnt-lan"]})" }
        << QStringList { "error:not an option a client may give: --record" };
    QTest::newRow("a second simulator on one connection")
        << QByteArrayList { idle, idle } << QStringList { "ready:", "error:one simulator per connection" };
    QTest::newRow("stop") << QByteArrayList { idle, R"({"stop":true})" }
                          << QStringList { "ready:", "exit:0" };
    QTest::newRow("stop with a device file") << QByteArrayList {
        R"({"arguments":["--raw-reply",{"file":"e30="},"--interface","vnt-lan"]})", R"({"stop":true})"
    } << QStringList { "ready:", "exit:0" };
}

void tst_DevSim::controlRequests()
{
    QFETCH(QByteArrayList, requests);
    QFETCH(QStringList, events);

    ControlClient client;
    QVERIFY(client.connected());
    for (int i = 0; i < requests.size(); ++i) {
        client.send(requests.at(i));
        const QString event = client.nextEvent();
        QVERIFY2(event.startsWith(events.at(i)), qPrintable(event));
    }
    // Whatever a client sent, the server goes on serving the next one.
    DevSimProcess simulator;
    QVERIFY2(simulator.start({ "--count", "0" }), qPrintable(simulator.errorString()));
    QVERIFY(simulator.stop());
    // Nor does it keep a file of a simulator that ended.
    QTRY_COMPARE_WITH_TIMEOUT(controlServerFiles(), 0, 10000);
}

void tst_DevSim::controlClientGone()
{
    // The seed marks this simulator's process among the sandbox's.
    ControlClient client;
    QVERIFY(client.connected());
    client.send(
        R"({"arguments":["--count","1","--seed","31337","--raw-reply",{"file":"e30="},"--interface","vnt-lan"]})");
    QCOMPARE(client.nextEvent(), QStringLiteral("ready:"));
    QVERIFY(runsWithArgument("--seed=31337"));
    QVERIFY(controlServerFiles() > 0);
    client.abort();
    QTRY_VERIFY_WITH_TIMEOUT(!runsWithArgument("--seed=31337"), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(controlServerFiles(), 0, 10000);
}

QTEST_GUILESS_MAIN(tst_DevSim)
#include "tst_devsim.moc"
