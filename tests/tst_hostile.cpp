#include "mainwindow.h"

#include "localencoding.h"
#include "netns/devsimprocess.h"
#include "netns/testnetworkguard.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

namespace {

// The one well-behaved device; its reply follows the hostile datagrams of every search.
const QString anchorMac = QStringLiteral("02:00:00:aa:bb:01");
// Found in no other datagram, so it marks the receive log lines of the anchor's replies.
const QString anchorVendor = QStringLiteral("Anchor vendor");
const QStringList anchorRow { "7001", "Anchor", "ANC-1", "198.51.100.50", "enable", "02:00:00:aa:bb:01",
    "rtp playing", "8080", "5070" };

QJsonObject anchorDevice()
{
    return QJsonObject {
        { "vendor_devtype_name", anchorVendor },
        { "custom_devtype_name", "ANC-1" },
        { "dev_status", 1 },
        { "dhcp", true },
        { "ipaddr", "198.51.100.50" },
        { "subnet_mask", "255.255.255.0" },
        { "gateway", "198.51.100.254" },
        { "macaddr", anchorMac },
        { "http_Port", 8080 },
        { "user_account", "7001" },
        { "display_name", "Anchor" },
        { "sip_port", 5070 },
    };
}

QByteArray rogueMac(int n)
{
    return QByteArray("02:00:00:ee:00:") + QByteArray::number(n, 16).rightJustified(2, '0');
}

struct Member {
    QByteArray key;
    // Raw JSON text, written as it is; a null array removes the member. A key
    // starting with '+' is appended as a second member of that name.
    QByteArray value;
};

// A complete search reply written by hand, so that members can carry text that
// no JSON writer produces (huge numbers, bad bytes, repeated keys).
QByteArray replyText(const QByteArray &macText, const QVector<Member> &changes = {})
{
    QVector<Member> members { { "request", "false" }, { "command", "\"search\"" },
        { "vendor_devtype_name", "\"Rogue vendor\"" }, { "custom_devtype_name", "\"RG-1\"" },
        { "dev_status", "5" }, { "dhcp", "false" }, { "ipaddr", "\"198.51.100.60\"" },
        { "subnet_mask", "\"255.255.255.0\"" }, { "gateway", "\"198.51.100.254\"" },
        { "macaddr", '"' + macText + '"' }, { "http_Port", "81" }, { "user_account", "\"6001\"" },
        { "display_name", "\"Rogue\"" }, { "sip_port", "5061" } };
    for (const Member &change : changes) {
        if (change.key.startsWith('+')) {
            members.append({ change.key.mid(1), change.value });
            continue;
        }
        auto found = std::find_if(members.begin(), members.end(),
            [&change](const Member &member) { return member.key == change.key; });
        if (found == members.end())
            members.append(change);
        else if (change.value.isNull())
            members.erase(found);
        else
            found->value = change.value;
    }
    QByteArray text = "{";
    for (const Member &member : qAsConst(members)) {
        if (text.size() > 1)
            text += ',';
        text += '"' + member.key + "\":" + member.value;
    }
    return text + '}';
}

// Replies are decoded in the local 8-bit encoding, so the bytes 0xFF 0xFE read as
// U+FFFD twice in UTF-8 (CTest runs under C.UTF-8), and as two letters in the ANSI code
// page 1252 (Wine under C.UTF-8). Empty for an encoding the expected texts do not know.
QString notUtf8AsReceived()
{
    const QString encoding = localencoding::name();
    if (encoding == QLatin1String("UTF-8"))
        return QStringLiteral("\uFFFD\uFFFD");
    if (encoding == QLatin1String("cp1252"))
        return QStringLiteral("\u00FF\u00FE");
    return QString();
}

// The largest UDP payload over IPv4.
constexpr int maxPayload = 65507;

QByteArray paddedWithBlanks(QByteArray reply, int size)
{
    reply.chop(1);
    return reply + QByteArray(size - reply.size() - 1, ' ') + '}';
}

QByteArray garbage(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 state = 12345;
    for (char &byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = char(state >> 16);
    }
    bytes[0] = '{';
    return bytes;
}

QByteArray nested(const QByteArray &open, const QByteArray &inner, const QByteArray &close, int depth)
{
    return open.repeated(depth) + inner + close.repeated(depth);
}

QString longDisplayName()
{
    const QString pattern
        = QStringLiteral("0123456789abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ-");
    return pattern.repeated(60000 / pattern.size() + 1).left(60000);
}

struct HostileCase {
    QByteArray name;
    QByteArray datagram;
    int extraRows;
    // MAC text of the row the datagram would add, found by this text.
    QString mac;
    int column;
    QString cellText;
    // A "config device(...) network parameter success." text the datagram must produce.
    QString statusText;
};

QString successText(const QString &mac)
{
    return QStringLiteral("config device(%1) network parameter success.").arg(mac);
}

QVector<HostileCase> hostileCases()
{
    QVector<HostileCase> cases;
    int next = 1;
    auto add
        = [&cases](const QByteArray &name, const QByteArray &datagram, int extraRows, const QString &mac = {},
              int column = -1, const QString &cellText = {}, const QString &statusText = {}) {
              cases.append({ name, datagram, extraRows, mac, column, cellText, statusText });
          };
    // Each rogue reply gets a MAC of its own, so its row can be told apart.
    auto mac = [&next] { return rogueMac(next++); };
    QByteArray m;

    add("empty datagram", QByteArray(), 0);
    add("one byte", "{", 0);
    add("65507 bytes of garbage", garbage(maxPayload), 0);
    m = mac();
    add("65507-byte reply padded with blanks", paddedWithBlanks(replyText(m), maxPayload), 1, m, 1, "Rogue");

    const QByteArray notUtf8("\xff\xfe");
    m = mac();
    add("invalid UTF-8 in display_name", replyText(m, { { "display_name", "\"A" + notUtf8 + "B\"" } }), 1, m,
        1, QStringLiteral("A") + notUtf8AsReceived() + QStringLiteral("B"));
    m = mac();
    add("invalid UTF-8 in macaddr", replyText(m + notUtf8), 1, QString::fromLatin1(m) + notUtf8AsReceived());
    m = mac();
    add("invalid UTF-8 between members", replyText(m).replace("\"command\"", notUtf8 + "\"command\""), 0, m);
    // The device type column goes through GB18030, which turns a lone surrogate into '?'.
    m = mac();
    add("unpaired surrogate escape in a type name",
        replyText(m, { { "custom_devtype_name", "\"A\\ud800B\"" } }), 1, m, 2, "A?B");

    add("arrays nested 10000 deep", nested("[", "", "]", 10000), 0);
    // Qt's parser refuses documents nested deeper than 1024 levels, so the whole reply goes.
    m = mac();
    add("reply member nested 10000 deep", replyText(m, { { "extra", nested("{\"a\":", "0", "}", 10000) } }),
        0, m);
    m = mac();
    add("reply member nested 1000 deep", replyText(m, { { "extra", nested("[", "", "]", 1000) } }), 1, m, 1,
        "Rogue");

    // Numbers that no int holds read as 0; the other ranges are unit rows of tst_messages.
    m = mac();
    add("http_Port 2147483648", replyText(m, { { "http_Port", "2147483648" } }), 1, m, 7, "0");

    m = mac();
    add("escaped NUL in display_name", replyText(m, { { "display_name", "\"A\\u0000B\"" } }), 1, m, 1,
        QString("A") + QChar(0) + "B");
    m = mac();
    add("escaped NUL in macaddr", replyText(m + "\\u0000x"), 1, QString::fromLatin1(m) + QChar(0) + "x", 1,
        "Rogue");
    // The text ends at the first raw NUL, as C firmware means it to.
    m = mac();
    add("raw NUL byte and junk after a complete reply", replyText(m) + QByteArray("\0junk\xff", 6), 1, m, 1,
        "Rogue");
    m = mac();
    add("raw NUL byte before a complete reply", QByteArray(1, '\0') + replyText(m), 0, m);

    const QString name = longDisplayName();
    m = mac();
    add("60000-character display name", replyText(m, { { "display_name", '"' + name.toLatin1() + '"' } }), 1,
        m, 1, name);

    // Qt 5.15 keeps the last of repeated keys. The first macaddr is the anchor's: were it
    // kept, this reply would take the anchor's row.
    m = mac();
    add("macaddr twice, the last wins", replyText(anchorMac.toLatin1(), { { "+macaddr", '"' + m + '"' } }), 1,
        m, 1, "Rogue");
    m = mac();
    add("request twice, the last true", replyText(m, { { "+request", "true" } }), 0, m);
    m = mac();
    add("request twice, the last false", replyText(m, { { "request", "true" }, { "+request", "false" } }), 1,
        m);

    // One row per outcome; the other types of "request" and "command" are unit rows of tst_messages.
    m = mac();
    add("request string \"true\"", replyText(m, { { "request", "\"true\"" } }), 1, m);
    m = mac();
    add("request true", replyText(m, { { "request", "true" } }), 0, m);
    m = mac();
    add("command \"SEARCH\"", replyText(m, { { "command", "\"SEARCH\"" } }), 0, m);
    // A search reply sent as config_net reports a configured device and adds no row.
    m = mac();
    add("command \"config_net\" on a search reply", replyText(m, { { "command", "\"config_net\"" } }), 0, m,
        -1, {}, successText(m));

    m = mac();
    add("reply inside a top-level array", '[' + replyText(m) + ']', 0, m);
    m = mac();
    const QByteArray second = mac();
    add("two replies in one datagram", replyText(m) + replyText(second), 0, m);

    add("own search request echoed back",
        "{\n    \"command\": \"search\",\n    \"delay_max\": 500,\n"
        "    \"multicast\": true,\n    \"request\": true\n}\n",
        0);
    m = mac();
    add("own config_net request echoed back",
        "{\n    \"command\": \"config_net\",\n    \"dhcp\": false,\n"
        "    \"gateway\": \"198.51.100.254\",\n    \"http_port\": 80,\n"
        "    \"ipaddr\": \"198.51.100.60\",\n    \"macaddr\": \""
            + m
            + "\",\n    \"multicast\": true,\n    \"request\": true,\n"
              "    \"subnet_mask\": \"255.255.255.0\"\n}\n",
        0, m);

    const QString markup = QStringLiteral("<b>x</b><img src=x>");
    add("config_net reply with markup in macaddr",
        R"({"request":false,"command":"config_net","macaddr":"<b>x</b><img src=x>"})", 0, markup, -1, {},
        successText(markup));
    add("config_net reply without macaddr", R"({"request":false,"command":"config_net"})", 0);
    return cases;
}

// Several datagrams share one search cycle; the receive buffer must hold one search's worth.
QVector<QVector<int>> batchesOf(const QVector<HostileCase> &cases)
{
    constexpr int maxCases = 10;
    constexpr int maxBytes = 70000;
    QVector<QVector<int>> batches;
    int bytes = 0;
    for (int i = 0; i < cases.size(); ++i) {
        const int size = cases.at(i).datagram.size();
        if (batches.isEmpty() || batches.last().size() == maxCases || bytes + size > maxBytes) {
            batches.append(QVector<int>());
            bytes = 0;
        }
        batches.last().append(i);
        bytes += size;
    }
    return batches;
}

// The program logs every datagram it receives and the label shows replies; both are
// watched while a cycle runs.
QPointer<QLabel> watchedLabel;
QStringList labelTexts;
QStringList receivedLines;
QtMessageHandler previousHandler = nullptr;

void sampleLabel()
{
    if (watchedLabel && (labelTexts.isEmpty() || labelTexts.last() != watchedLabel->text()))
        labelTexts.append(watchedLabel->text());
}

void watchMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    // A reply's status text stands until the next datagram is logged.
    sampleLabel();
    if (type != QtDebugMsg) {
        previousHandler(type, context, message);
        return;
    }
    if (message.startsWith(QLatin1String("received multicast data:")))
        receivedLines.append(message);
}

} // namespace

// Hostile datagrams from the LAN against the real program, each followed by a valid reply.
class TestHostile : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void hostileDatagram_data();
    void hostileDatagram();

private:
    struct Outcome {
        QString error;
        QList<QStringList> rows;
        QStringList labelTexts;
        Qt::TextFormat labelFormat = Qt::AutoText;
        QStringList receivedLines;
    };
    QString runBatch(const QVector<int> &batch, Outcome *result);

    QVector<HostileCase> cases;
    QVector<QVector<int>> batches;
    int batchRun = -1;
    Outcome outcome;
};

void TestHostile::initTestCase()
{
    testnetwork::requireTestNetwork("tst_hostile");
    if (!DevSimProcess::harnessPresent())
        QFAIL("needs the test LAN and its simulator control server (tests/sandbox.sh lan --devsim)");
    QVERIFY2(!notUtf8AsReceived().isEmpty(),
        qPrintable(
            "the expected texts know the local encodings UTF-8 and cp1252, not " + localencoding::name()));
    cases = hostileCases();
    batches = batchesOf(cases);
    previousHandler = qInstallMessageHandler(watchMessages);
}

void TestHostile::cleanupTestCase()
{
    if (previousHandler)
        qInstallMessageHandler(previousHandler);
}

QString TestHostile::runBatch(const QVector<int> &batch, Outcome *result)
{
    QStringList names;
    for (int index : batch)
        names << QString::fromUtf8(cases.at(index).name);
    qInfo("one search for: %s", qPrintable(names.join(QLatin1String(" | "))));

    QTemporaryDir directory;
    if (!directory.isValid())
        return QStringLiteral("no temporary directory");
    QFile devices(directory.filePath("devices.json"));
    if (!devices.open(QIODevice::WriteOnly)
        || devices.write(QJsonDocument(QJsonArray { anchorDevice() }).toJson()) < 0)
        return devices.errorString();
    devices.close();

    // With a fixed delay the simulator answers each search with the raw replies
    // first, then the devices, in this order.
    QStringList arguments { "--devices", devices.fileName(), "--reply-delay", "100" };
    for (int index : batch) {
        QFile file(directory.filePath(QStringLiteral("hostile-%1.bin").arg(index)));
        if (!file.open(QIODevice::WriteOnly) || file.write(cases.at(index).datagram) < 0)
            return file.errorString();
        arguments << "--raw-reply" << file.fileName();
    }

    DevSimProcess sim;
    if (!sim.start(arguments))
        return sim.errorString();

    MainWindow window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return QStringLiteral("window not exposed");
    QLabel *label = window.findChild<QStatusBar *>("statusbar")->findChild<QLabel *>();
    auto *table = window.findChild<QTableWidget *>("tableWidgetDevList");

    labelTexts.clear();
    receivedLines.clear();
    watchedLabel = label;
    QTimer poll;
    poll.setInterval(10);
    connect(&poll, &QTimer::timeout, this, [] { sampleLabel(); });
    poll.start();

    window.findChild<QPushButton *>("pushButtonSearch")->click();
    const bool finished
        = QTest::qWaitFor([label] { return label->text() == QLatin1String("search device finish."); }, 20000);
    poll.stop();
    sampleLabel();
    watchedLabel = nullptr;
    if (!finished)
        return QStringLiteral("the search did not finish; the label reads: ") + label->text();

    for (int row = 0; row < table->rowCount(); ++row) {
        QStringList texts;
        for (int column = 0; column < table->columnCount(); ++column) {
            const QTableWidgetItem *item = table->item(row, column);
            texts << (item ? item->text() : QStringLiteral("<no item>"));
        }
        result->rows << texts;
    }
    result->labelTexts = labelTexts;
    result->labelFormat = label->textFormat();
    result->receivedLines = receivedLines;
    receivedLines.clear();
    if (!sim.stop())
        return QStringLiteral("the simulator did not stop cleanly: ") + sim.errorString();
    return QString();
}

void TestHostile::hostileDatagram_data()
{
    QTest::addColumn<int>("extraRows");
    QTest::addColumn<QString>("mac");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("cellText");
    QTest::addColumn<QString>("statusText");
    for (const HostileCase &hostile : hostileCases()) {
        QTest::newRow(hostile.name.constData())
            << hostile.extraRows << hostile.mac << hostile.column << hostile.cellText << hostile.statusText;
    }
}

void TestHostile::hostileDatagram()
{
    QFETCH(int, extraRows);
    QFETCH(QString, mac);
    QFETCH(int, column);
    QFETCH(QString, cellText);
    QFETCH(QString, statusText);

    int caseIndex = -1;
    for (int i = 0; i < cases.size(); ++i) {
        if (cases.at(i).name == QTest::currentDataTag())
            caseIndex = i;
    }
    QVERIFY(caseIndex >= 0);
    int batchIndex = 0;
    while (!batches.at(batchIndex).contains(caseIndex))
        ++batchIndex;
    if (batchIndex != batchRun) {
        outcome = Outcome();
        outcome.error = runBatch(batches.at(batchIndex), &outcome);
        batchRun = batchIndex;
    }
    QVERIFY2(outcome.error.isEmpty(), qPrintable(outcome.error));

    // The valid reply that came after the hostile datagram still made its row, untouched.
    int anchorRows = 0;
    for (const QStringList &row : qAsConst(outcome.rows)) {
        if (row.at(5) == anchorMac) {
            ++anchorRows;
            QCOMPARE(row, anchorRow);
        }
    }
    QCOMPARE(anchorRows, 1);

    // Every answer is the batch's datagrams and then the anchor's reply: none of them went missing.
    const int answers = outcome.receivedLines.filter(anchorVendor).size();
    QVERIFY(answers > 0);
    QCOMPARE(outcome.receivedLines.size(), answers * (batches.at(batchIndex).size() + 1));

    if (!mac.isEmpty()) {
        QList<QStringList> macRows;
        for (const QStringList &row : qAsConst(outcome.rows)) {
            if (row.at(5) == mac)
                macRows << row;
        }
        QCOMPARE(macRows.size(), extraRows);
        if (extraRows == 1 && column >= 0)
            QCOMPARE(macRows.first().at(column), cellText);
    }
    if (!statusText.isEmpty()) {
        QVERIFY2(outcome.labelTexts.contains(statusText), qPrintable(outcome.labelTexts.join(" | ")));
        QCOMPARE(outcome.labelFormat, Qt::PlainText);
    } else if (!mac.isEmpty()) {
        QVERIFY2(!outcome.labelTexts.contains(successText(mac)), "reported as a configured device");
    }

    // Rows and reports that belong to no datagram of this cycle.
    QStringList known { anchorMac };
    QStringList expectedTexts;
    for (int index : batches.at(batchIndex)) {
        if (cases.at(index).mac.isEmpty())
            continue;
        known << cases.at(index).mac;
        expectedTexts << successText(cases.at(index).mac);
    }
    QStringList strayMacs;
    for (const QStringList &row : qAsConst(outcome.rows)) {
        if (!known.contains(row.at(5)))
            strayMacs << row.at(5);
    }
    QVERIFY2(strayMacs.isEmpty(), qPrintable(QStringLiteral("rows nobody expects: ") + strayMacs.join(", ")));
    for (const QString &text : qAsConst(outcome.labelTexts)) {
        if (text.endsWith(QLatin1String("network parameter success.")))
            QVERIFY2(expectedTexts.contains(text), qPrintable(QStringLiteral("unexpected status: ") + text));
    }
}

QTEST_MAIN(TestHostile)
#include "tst_hostile.moc"
