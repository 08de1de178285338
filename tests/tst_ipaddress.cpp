#include "ipaddress.h"

#include <QApplication>
#include <QBoxLayout>
#include <QFocusEvent>
#include <QImage>
#include <QLineEdit>
#include <QPointer>
#include <QTest>

#include <memory>

namespace {

const QStringList fieldNames = { "txtIP1", "txtIP2", "txtIP3", "txtIP4" };

// Remembers the reason of the last focus-in on the watched widget.
class FocusReasonProbe : public QObject {
public:
    Qt::FocusReason reason = Qt::NoFocusReason;
    int focusIns = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::FocusIn) {
            reason = static_cast<QFocusEvent *>(event)->reason();
            ++focusIns;
        }
        return false;
    }
};

} // namespace

class TestIPAddress : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void typing_data();
    void typing();
    void tabOrder();
    void setIP_data();
    void setIP();
    void setIPSameValueLeavesFieldsUntouched();
    void clear_data();
    void clear();
    void clearEmptiesLeftToRight();
    void disabledEditor();
    void byName_data();
    void byName();
    void styleSetters_data();
    void styleSetters();

private:
    QLineEdit *field(const QString &name) const
    {
        return editor->findChild<QLineEdit *>(name);
    }
    QWidget *widgetNamed(const QString &name) const;
    static QString focusName();
    bool focusOn(const QString &name);
    QStringList fieldTexts() const;

    std::unique_ptr<QWidget> window;
    QLineEdit *before = nullptr;
    IPAddress *editor = nullptr;
    QLineEdit *after = nullptr;
};

// The editor sits between two line edits in an active window, so focus moves can leave it.
void TestIPAddress::init()
{
    window = std::make_unique<QWidget>();
    auto *layout = new QHBoxLayout(window.get());
    before = new QLineEdit(window.get());
    before->setObjectName("before");
    editor = new IPAddress(window.get());
    after = new QLineEdit(window.get());
    after->setObjectName("after");
    layout->addWidget(before);
    layout->addWidget(editor);
    layout->addWidget(after);
    window->show();
    QApplication::setActiveWindow(window.get());
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
}

void TestIPAddress::cleanup()
{
    window.reset();
}

QWidget *TestIPAddress::widgetNamed(const QString &name) const
{
    if (name == "before")
        return before;
    if (name == "after")
        return after;
    return field(name);
}

QString TestIPAddress::focusName()
{
    const QWidget *focused = QApplication::focusWidget();
    return focused ? focused->objectName() : QStringLiteral("<none>");
}

bool TestIPAddress::focusOn(const QString &name)
{
    widgetNamed(name)->setFocus(Qt::OtherFocusReason);
    return focusName() == name;
}

QStringList TestIPAddress::fieldTexts() const
{
    QStringList texts;
    for (const QString &name : fieldNames)
        texts << field(name)->text();
    return texts;
}

void TestIPAddress::typing_data()
{
    QTest::addColumn<QStringList>("preset");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QTestEventList>("keys");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QString>("focus");
    QTest::addColumn<QString>("ip");

    const auto row
        = [](const char *name, const QStringList &preset, const QString &start, const QTestEventList &keys,
              const QStringList &texts, const QString &focus,
              const QString &ip) { QTest::newRow(name) << preset << start << keys << texts << focus << ip; };
    const auto typed = [](const char *keys) {
        QTestEventList events;
        events.addKeyClicks(keys);
        return events;
    };
    const auto backspaces = [](int count) {
        QTestEventList events;
        for (int i = 0; i < count; ++i)
            events.addKeyClick(Qt::Key_Backspace);
        return events;
    };
    const QStringList empty = { "", "", "", "" };

    row("1-9-2 advances on the third digit", empty, "txtIP1", typed("192"), { "192", "", "", "" }, "txtIP2",
        "192...");
    row("1-9-dot advances and keeps 19", empty, "txtIP1", typed("19."), { "19", "", "", "" }, "txtIP2",
        "19...");
    row("2-5-6 refuses the 6", empty, "txtIP1", typed("256"), { "25", "", "", "" }, "txtIP1", "25...");
    row("2-5-5 advances", empty, "txtIP1", typed("255"), { "255", "", "", "" }, "txtIP2", "255...");
    row("2-6-0 refuses the 0", empty, "txtIP1", typed("260"), { "26", "", "", "" }, "txtIP1", "26...");
    row("0-9-9 refuses the second 9", empty, "txtIP1", typed("099"), { "09", "", "", "" }, "txtIP1", "09...");
    row("letters and minus refused", empty, "txtIP1", typed("a-1"), { "1", "", "", "" }, "txtIP1", "1...");
    row("dot in an empty field only advances", empty, "txtIP1", typed("."), empty, "txtIP2", "");
    row("whole address typed with dots", empty, "txtIP1", typed("10.0.0.1"), { "10", "0", "0", "1" },
        "txtIP4", "10.0.0.1");
    row("three full octets advance by themselves", empty, "txtIP1", typed("192168110"),
        { "192", "168", "110", "" }, "txtIP4", "192.168.110.");
    row("backspace in empty txtIP3 goes back, deleting nothing", { "10", "20", "", "" }, "txtIP3",
        backspaces(1), { "10", "20", "", "" }, "txtIP2", "10.20..");
    row("backspace in txtIP3 holding 7 empties it and goes back", { "10", "20", "7", "" }, "txtIP3",
        backspaces(1), { "10", "20", "", "" }, "txtIP2", "10.20..");
    row("backspace in txtIP3 holding 17 only deletes", { "10", "20", "17", "" }, "txtIP3", backspaces(1),
        { "10", "20", "1", "" }, "txtIP3", "10.20.1.");
    row("second backspace from 17 goes back", { "10", "20", "17", "" }, "txtIP3", backspaces(2),
        { "10", "20", "", "" }, "txtIP2", "10.20..");
    row("backspace in empty txtIP1 leaves the editor backwards", empty, "txtIP1", backspaces(1), empty,
        "before", "");
    row("dot in txtIP4 leaves the editor", { "1", "2", "3", "4" }, "txtIP4", typed("."),
        { "1", "2", "3", "4" }, "after", "1.2.3.4");
    row("three-digit octet in txtIP4 leaves the editor", { "1", "2", "3", "" }, "txtIP4", typed("254"),
        { "1", "2", "3", "254" }, "after", "1.2.3.254");
}

// Keys go to whatever has the focus, as real typing does.
void TestIPAddress::typing()
{
    QFETCH(QStringList, preset);
    QFETCH(QString, start);
    QFETCH(QTestEventList, keys);
    QFETCH(QStringList, texts);
    QFETCH(QString, focus);
    QFETCH(QString, ip);

    for (int i = 0; i < fieldNames.size(); ++i)
        field(fieldNames.at(i))->setText(preset.at(i));
    QVERIFY(focusOn(start));

    keys.simulate(nullptr);

    QCOMPARE(fieldTexts(), texts);
    QCOMPARE(focusName(), focus);
    QCOMPARE(editor->getIP(), ip);
    QVERIFY(before->text().isEmpty());
    QVERIFY(after->text().isEmpty());
}

void TestIPAddress::tabOrder()
{
    QVERIFY(focusOn("before"));
    QStringList forward;
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(static_cast<QWidget *>(nullptr), Qt::Key_Tab);
        forward << focusName();
    }
    QCOMPARE(forward, QStringList({ "txtIP1", "txtIP2", "txtIP3", "txtIP4", "after" }));

    QStringList backward;
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(static_cast<QWidget *>(nullptr), Qt::Key_Backtab);
        backward << focusName();
    }
    QCOMPARE(backward, QStringList({ "txtIP4", "txtIP3", "txtIP2", "txtIP1", "before" }));
}

void TestIPAddress::setIP_data()
{
    QTest::addColumn<QString>("preset");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("focus");

    const auto row
        = [](const char *name, const QString &preset, const QString &start, const QString &argument,
              const QStringList &texts, const QString &ip, const QString &focus) {
              QTest::newRow(name) << preset << start << argument << texts << ip << focus;
          };
    // Refused arguments leave an editor holding 10.1.2.3 with the focus in txtIP2 as it was.
    const auto refused = [](const char *name, const QString &argument) {
        QTest::newRow(name) << QString("10.1.2.3") << QString("txtIP2") << argument
                            << QStringList { "10", "1", "2", "3" } << QString("10.1.2.3")
                            << QString("txtIP2");
    };

    row("10.0.0.1 moves no focus", "", "before", "10.0.0.1", { "10", "0", "0", "1" }, "10.0.0.1", "before");
    row("192.168.1.20 from before advances twice", "", "before", "192.168.1.20", { "192", "168", "1", "20" },
        "192.168.1.20", "txtIP2");
    row("192.168.1.20 from txtIP1 advances twice", "", "txtIP1", "192.168.1.20", { "192", "168", "1", "20" },
        "192.168.1.20", "txtIP3");
    row("every octet from 100 advances", "", "before", "255.255.255.0", { "255", "255", "255", "0" },
        "255.255.255.0", "txtIP3");
    row("leading zeros accepted, zero-led octets do not advance", "", "before", "192.168.001.010",
        { "192", "168", "001", "010" }, "192.168.001.010", "txtIP2");
    row("replacing only the last octet", "10.1.2.3", "txtIP2", "10.1.2.4", { "10", "1", "2", "4" },
        "10.1.2.4", "txtIP2");
    row("refused on a fresh editor keeps it empty", "", "txtIP1", "300.1.1.1", { "", "", "", "" }, "",
        "txtIP1");

    refused("empty refused", "");
    refused("three octets refused", "1.2.3");
    refused("256 refused", "256.1.1.1");
    refused("trailing dot refused", "1.2.3.4.");
    refused("leading space refused", " 1.2.3.4");
    refused("trailing space refused", "1.2.3.4 ");
    refused("empty octet refused", "1..2.3");
    refused("four-digit octet refused", "1.2.3.0001");
    refused("five octets refused", "1.2.3.4.5");
    refused("full-width digits refused", "１.２.３.４");
}

void TestIPAddress::setIP()
{
    QFETCH(QString, preset);
    QFETCH(QString, start);
    QFETCH(QString, argument);
    QFETCH(QStringList, texts);
    QFETCH(QString, ip);
    QFETCH(QString, focus);

    if (!preset.isEmpty())
        editor->setIP(preset);
    QVERIFY(focusOn(start));

    editor->setIP(argument);

    QCOMPARE(fieldTexts(), texts);
    QCOMPARE(editor->getIP(), ip);
    QCOMPARE(focusName(), focus);
}

// Rewriting a field would reset its cursor and selection, so a repeat must not touch them.
void TestIPAddress::setIPSameValueLeavesFieldsUntouched()
{
    editor->setIP("192.168.1.20");
    QVERIFY(focusOn("txtIP2"));
    field("txtIP2")->setSelection(0, 2);
    field("txtIP4")->setCursorPosition(0);

    editor->setIP("192.168.1.20");

    QCOMPARE(field("txtIP2")->selectedText(), QString("16"));
    QCOMPARE(field("txtIP4")->cursorPosition(), 0);
    QCOMPARE(focusName(), QString("txtIP2"));
    QCOMPARE(editor->getIP(), QString("192.168.1.20"));
}

void TestIPAddress::clear_data()
{
    QTest::addColumn<QString>("preset");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("clears");
    QTest::addColumn<QString>("ip");

    const auto row = [](const char *name, const QString &preset, const QString &typed, int clears,
                         const QString &ip) { QTest::newRow(name) << preset << typed << clears << ip; };
    row("fresh editor stays empty", "", "", 1, "");
    row("filled by setIP gives three dots", "192.168.1.20", "", 1, "...");
    row("partly typed gives three dots", "", "19", 1, "...");
    row("cleared twice keeps three dots", "10.0.0.1", "", 2, "...");
}

void TestIPAddress::clear()
{
    QFETCH(QString, preset);
    QFETCH(QString, typed);
    QFETCH(int, clears);
    QFETCH(QString, ip);

    if (!preset.isEmpty())
        editor->setIP(preset);
    if (!typed.isEmpty()) {
        QVERIFY(focusOn("txtIP1"));
        QTest::keyClicks(nullptr, typed);
    }
    QVERIFY(focusOn("after"));
    FocusReasonProbe probe;
    field("txtIP1")->installEventFilter(&probe);

    for (int i = 0; i < clears; ++i)
        editor->clear();

    QCOMPARE(editor->getIP(), ip);
    QCOMPARE(fieldTexts(), QStringList({ "", "", "", "" }));
    QCOMPARE(focusName(), QString("txtIP1"));
    QCOMPARE(probe.focusIns, 1);
    QCOMPARE(probe.reason, Qt::OtherFocusReason);
}

// The address seen after each field empties shows both the order and the recomposition.
void TestIPAddress::clearEmptiesLeftToRight()
{
    editor->setIP("192.168.1.20");
    QStringList seen;
    QObject context;
    for (const QString &name : fieldNames) {
        connect(field(name), &QLineEdit::textChanged, &context,
            [&seen, this, name] { seen << name + ' ' + editor->getIP(); });
    }

    editor->clear();

    QCOMPARE(seen, QStringList({ "txtIP1 .168.1.20", "txtIP2 ..1.20", "txtIP3 ...20", "txtIP4 ..." }));
}

void TestIPAddress::disabledEditor()
{
    editor->setIP("10.1.2.3");
    QVERIFY(focusOn("txtIP2"));

    editor->setEnabled(false);
    QVERIFY(!editor->isAncestorOf(QApplication::focusWidget()));
    field("txtIP1")->setFocus(Qt::OtherFocusReason);
    QVERIFY(!field("txtIP1")->hasFocus());
    QTest::keyClicks(field("txtIP1"), "5");
    QTest::keyClick(field("txtIP3"), Qt::Key_Backspace);
    QCOMPARE(fieldTexts(), QStringList({ "10", "1", "2", "3" }));
    QCOMPARE(editor->getIP(), QString("10.1.2.3"));

    editor->setIP("192.168.1.20");
    QCOMPARE(fieldTexts(), QStringList({ "192", "168", "1", "20" }));
    QCOMPARE(editor->getIP(), QString("192.168.1.20"));
    editor->setIP("1.2.3");
    QCOMPARE(editor->getIP(), QString("192.168.1.20"));

    editor->clear();
    QCOMPARE(fieldTexts(), QStringList({ "", "", "", "" }));
    QCOMPARE(editor->getIP(), QString("..."));
    QVERIFY(!editor->isAncestorOf(QApplication::focusWidget()));

    editor->setEnabled(true);
    QVERIFY(focusOn("txtIP1"));
    QTest::keyClicks(nullptr, "7");
    QCOMPARE(editor->getIP(), QString("7..."));
}

void TestIPAddress::byName_data()
{
    QTest::addColumn<bool>("viaProperty");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("ip");

    const auto row = [](const char *name, bool viaProperty, const QString &value, const QString &ip) {
        QTest::newRow(name) << viaProperty << value << ip;
    };
    row("property accepts a dotted quad", true, "172.16.0.9", "172.16.0.9");
    row("property ignores a partial address", true, "172.16.0", "10.0.0.1");
    row("slot by name accepts a dotted quad", false, "172.16.0.9", "172.16.0.9");
    row("slot by name ignores a trailing dot", false, "172.16.0.9.", "10.0.0.1");
}

// Designer forms and string-based connections reach the editor through the meta-object.
void TestIPAddress::byName()
{
    QFETCH(bool, viaProperty);
    QFETCH(QString, value);
    QFETCH(QString, ip);

    editor->setIP("10.0.0.1");
    if (viaProperty)
        QVERIFY(editor->setProperty("ip", value));
    else
        QVERIFY(QMetaObject::invokeMethod(editor, "setIP", Q_ARG(QString, value)));

    const QVariant read = editor->property("ip");
    QCOMPARE(read.userType(), int(QMetaType::QString));
    QCOMPARE(read.toString(), ip);
    QCOMPARE(fieldTexts().join('.'), ip);
}

void TestIPAddress::styleSetters_data()
{
    QTest::addColumn<QString>("bg");
    QTest::addColumn<QString>("border");
    QTest::addColumn<int>("radius");

    const auto row = [](const char *name, const QString &bg, const QString &border, int radius) {
        QTest::newRow(name) << bg << border << radius;
    };
    row("defaults", "#FFFFFF", "#A6B5B8", 3);
    row("background", "#FFEE00", "#A6B5B8", 3);
    row("border colour", "#FFFFFF", "#FF0000", 3);
    row("radius", "#FFFFFF", "#A6B5B8", 0);
    row("all three", "#00FF00", "#0000FF", 6);
}

// A change must reach the frame so the editor repaints in the new colours.
void TestIPAddress::styleSetters()
{
    QFETCH(QString, bg);
    QFETCH(QString, border);
    QFETCH(int, radius);

    editor->setBgColor(bg);
    editor->setBorderColor(border);
    editor->setBorderRadius(radius);

    const QImage shot = editor->grab().toImage();
    const int middle = shot.height() / 2;
    QCOMPARE(shot.pixelColor(0, middle), QColor(border));
    // A rounded corner leaves the outermost corner pixel unpainted by the border.
    QCOMPARE(shot.pixelColor(0, 0) == QColor(border), radius == 0);
    const QLineEdit *second = field("txtIP2");
    const QPoint inField = second->mapTo(editor, QPoint(2, second->height() / 2));
    QCOMPARE(shot.pixelColor(inField), QColor(bg));
}

QTEST_MAIN(TestIPAddress)
#include "tst_ipaddress.moc"
