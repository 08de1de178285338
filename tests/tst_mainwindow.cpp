#include "mainwindow.h"
#include "replybuilder.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QCheckBox>
#include <QDesktopServices>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>

#include "ipaddress.h"
#include "logcapture.h"
#include "main/fontengine.h"
#include "netns/testnetworkguard.h"
#include "screenfit.h"

Q_DECLARE_METATYPE(QMargins)

// Receives the web addresses the window asks the desktop to open, so no browser starts.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void openUrl(const QUrl &url)
    {
        urls.append(url);
    }
};

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void columnWidthsFollowTableWidth_data();
    void columnWidthsFollowTableWidth();
    void windowKeepsItsLimits();
    void windowFitsAvailableArea_data();
    void windowFitsAvailableArea();
    void tooSmallScreenHoldsWholeWindow();
    void fontEngineLeavesUsersPlatform_data();
    void fontEngineLeavesUsersPlatform();
    void fieldsAreNamedAfterTheirLabels_data();
    void fieldsAreNamedAfterTheirLabels();
    void formAndTableStartEmptyAndLocked();
    void buttonAndRowIconsAreEmbedded();
    void clickOnEmptySpaceClearsForm_data();
    void clickOnEmptySpaceClearsForm();
    void rowClickFillsForm_data();
    void rowClickFillsForm();
    void invalidAddressKeepsEditorContents();
    void dhcpRuleEnablesEditors();
    void activationOpensWebPage_data();
    void activationOpensWebPage();
    void enterOpensWebPageWithoutRefilling();
    void setParametersWithoutDeviceAsksForOne();
    void searchWithoutSocketsChangesNothing();
    void rowAddLeavesSelectionAndForm();

private:
    template<typename T> T *child(const char *name) const
    {
        T *found = window->findChild<T *>(QLatin1String(name));
        Q_ASSERT(found);
        return found;
    }
    QTableWidget *table() const
    {
        return child<QTableWidget>("tableWidgetDevList");
    }
    void addDevice(const QString &mac, const QJsonObject &overrides = {});
    void clickRow(int row);

    MainWindow *window = nullptr;
};

void TestMainWindow::initTestCase()
{
    // Every window opens discovery sockets.
    testnetwork::requireTestNetwork("tst_mainwindow");
}

void TestMainWindow::init()
{
    window = new MainWindow;
    window->show();
    QApplication::setActiveWindow(window);
    QVERIFY(QTest::qWaitForWindowActive(window));
}

void TestMainWindow::cleanup()
{
    delete window;
    window = nullptr;
}

void TestMainWindow::addDevice(const QString &mac, const QJsonObject &overrides)
{
    window->parseResponse(replyText(searchReply(mac, overrides)));
}

void TestMainWindow::clickRow(int row)
{
    QTableWidget *t = table();
    const QRect rect = t->visualItemRect(t->item(row, 1));
    QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, rect.center());
}

void TestMainWindow::columnWidthsFollowTableWidth_data()
{
    QTest::addColumn<int>("tableWidth");
    QTest::addColumn<QList<int>>("widths");
    QTest::newRow("1000") << 1000 << QList<int> { 150, 150, 90, 110, 80, 150, 90, 80, 80 };
    QTest::newRow("1147") << 1147 << QList<int> { 172, 172, 103, 126, 91, 172, 103, 91, 91 };
    QTest::newRow("1333") << 1333 << QList<int> { 199, 199, 119, 146, 106, 199, 119, 106, 106 };
}

void TestMainWindow::columnWidthsFollowTableWidth()
{
    QFETCH(int, tableWidth);
    QFETCH(QList<int>, widths);
    QTableWidget *t = table();
    const int margins = window->width() - t->width();
    window->resize(tableWidth + margins, 700);
    QTRY_COMPARE(t->width(), tableWidth);
    QList<int> actual;
    for (int column = 0; column < 9; ++column)
        actual << t->columnWidth(column);
    QCOMPARE(actual, widths);

    // A drag lasts only until the next resize recomputes the shares.
    t->setColumnWidth(0, 10);
    window->resize(window->width(), 650);
    QTRY_COMPARE(t->columnWidth(0), widths.at(0));

    // So does one until the next new row; a repeated reply adds none and leaves it.
    t->setColumnWidth(1, 60);
    addDevice("02:00:00:00:00:01");
    QCOMPARE(t->columnWidth(1), widths.at(1));
    t->setColumnWidth(1, 60);
    addDevice("02:00:00:00:00:01");
    QCOMPARE(t->columnWidth(1), 60);
}

void TestMainWindow::windowKeepsItsLimits()
{
    window->resize(400, 200);
    QTRY_COMPARE(window->size(), QSize(1000, 500));

    window->resize(1600, 900);
    QTRY_COMPARE(window->width(), 1600);
    auto *group = child<QWidget>("groupBox");
    const int groupHeight = group->height();
    for (const char *name : { "pushButtonSearch", "pushButtonConfigNet" }) {
        auto *button = child<QPushButton>(name);
        QVERIFY2(button->width() >= 200 && button->width() <= 300, name);
        QVERIFY2(button->height() >= 40, name);
    }
    for (const char *name : { "widgetIPAddr", "widgetSubnetMask", "widgetGateway" }) {
        const int width = child<QWidget>(name)->width();
        QVERIFY2(width >= 200 && width <= 400, name);
    }
    QVERIFY(child<QSpinBox>("spinBoxHttpPort")->width() <= 150);

    // Extra height goes to the table only.
    const int tableHeight = table()->height();
    window->resize(1600, 1100);
    QTRY_COMPARE(table()->height(), tableHeight + 200);
    QCOMPARE(group->height(), groupHeight);
}

void TestMainWindow::windowFitsAvailableArea_data()
{
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QMargins>("frame");
    QTest::addColumn<QPoint>("framePosition");
    QTest::addColumn<QSize>("minimum");
    QTest::addColumn<QRect>("geometry");
    const QMargins windows10(8, 31, 8, 8);
    // Logical sizes: 1920 x 1080 at 150 % is 1280 x 720, 1366 x 768 at 150 % is 910 x 512.
    QTest::newRow("1920x1080 at 100 %, taskbar") << QRect(0, 0, 1920, 1040) << windows10 << QPoint(100, 50)
                                                 << QSize(1000, 500) << QRect(108, 81, 1147, 816);
    QTest::newRow("frame under a taskbar on the left")
        << QRect(48, 0, 1872, 1080) << windows10 << QPoint(0, 50) << QSize(1000, 500)
        << QRect(56, 81, 1147, 816);
    QTest::newRow("frame under a taskbar on top") << QRect(0, 40, 1920, 1040) << windows10 << QPoint(100, 0)
                                                  << QSize(1000, 500) << QRect(108, 71, 1147, 816);
    QTest::newRow("frame past the bottom right") << QRect(0, 0, 1920, 1040) << windows10 << QPoint(1000, 500)
                                                 << QSize(1000, 500) << QRect(765, 216, 1147, 816);
    QTest::newRow("frame just fits") << QRect(0, 0, 1163, 855) << windows10 << QPoint(0, 0)
                                     << QSize(1000, 500) << QRect(8, 31, 1147, 816);
    QTest::newRow("one pixel short") << QRect(0, 0, 1163, 854) << windows10 << QPoint(0, 0)
                                     << QSize(1000, 500) << QRect(8, 31, 1147, 815);
    QTest::newRow("1920x1080 at 150 %, no frame")
        << QRect(0, 0, 1280, 720) << QMargins() << QPoint(0, 0) << QSize(1000, 500) << QRect(0, 0, 1280, 720);
    QTest::newRow("1366x768 at 150 %, taskbar")
        << QRect(0, 0, 910, 492) << windows10 << QPoint(30, 30) << QSize(894, 453) << QRect(8, 31, 894, 453);
    QTest::newRow("screen left of the primary, panel on top")
        << QRect(-1280, 30, 1280, 690) << windows10 << QPoint(-1200, 100) << QSize(1000, 500)
        << QRect(-1272, 61, 1264, 651);
    QTest::newRow("portrait 1080x1920") << QRect(0, 0, 1080, 1880) << QMargins() << QPoint(0, 0)
                                        << QSize(1000, 500) << QRect(0, 0, 1080, 1880);
    QTest::newRow("800x600") << QRect(0, 0, 800, 600) << QMargins() << QPoint(0, 0) << QSize(800, 500)
                             << QRect(0, 0, 800, 600);
    QTest::newRow("smaller than the frame")
        << QRect(0, 0, 10, 20) << windows10 << QPoint(0, 0) << QSize(0, 0) << QRect(8, 31, 0, 0);
}

void TestMainWindow::windowFitsAvailableArea()
{
    QFETCH(QRect, available);
    QFETCH(QMargins, frame);
    QFETCH(QPoint, framePosition);
    QFETCH(QSize, minimum);
    QFETCH(QRect, geometry);
    const WindowFit fit = fitWindow(QSize(1147, 816), QSize(1000, 500), frame, framePosition, available);
    QCOMPARE(fit.minimumSize, minimum);
    QCOMPARE(fit.geometry, geometry);
}

void TestMainWindow::tooSmallScreenHoldsWholeWindow()
{
    // The offscreen screen (800 x 600, windows with a frame) is narrower than the minimum.
    MainWindow fresh;
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    fitToScreen(&fresh);
    fresh.show();
    QVERIFY(QTest::qWaitForWindowExposed(&fresh));
    const QRect frame = fresh.frameGeometry();
    QCOMPARE(frame, available);
    QCOMPARE(fresh.minimumSize(), QSize(fresh.width(), 500));
    QVERIFY(fresh.width() < available.width() && fresh.height() < available.height());
}

void TestMainWindow::fontEngineLeavesUsersPlatform_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("fromEnvironment");
    QTest::addColumn<QStringList>("expected");
    const QStringList freeType { "varnitt.exe", "-platform", "windows:fontengine=freetype" };
    QTest::newRow("none") << QStringList { "varnitt.exe" } << false << freeType;
    QTest::newRow("others kept after it") << QStringList { "varnitt.exe", "-plugin", "x" } << false
                                          << freeType + QStringList { "-plugin", "x" };
    QTest::newRow("-platform") << QStringList { "varnitt.exe", "-platform", "windows:fontengine=native" }
                               << false
                               << QStringList { "varnitt.exe", "-platform", "windows:fontengine=native" };
    QTest::newRow("--platform") << QStringList {
        "varnitt.exe", "-style", "fusion", "--platform", "offscreen"
    } << false << QStringList { "varnitt.exe", "-style", "fusion", "--platform", "offscreen" };
    QTest::newRow("QT_QPA_PLATFORM") << QStringList { "varnitt.exe" } << true
                                     << QStringList { "varnitt.exe" };
    QTest::newRow("-platformtheme is another option") << QStringList { "varnitt.exe", "-platformtheme",
        "x" } << false << freeType + QStringList { "-platformtheme", "x" };
    QTest::newRow("-platform without a value")
        << QStringList { "varnitt.exe", "-platform" } << false << freeType + QStringList { "-platform" };
}

void TestMainWindow::fontEngineLeavesUsersPlatform()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, fromEnvironment);
    QFETCH(QStringList, expected);
    std::vector<QByteArray> storage;
    std::vector<char *> argv;
    for (const QString &argument : arguments)
        storage.push_back(argument.toLocal8Bit());
    for (QByteArray &argument : storage)
        argv.push_back(argument.data());
    const std::vector<char *> result = withFreeTypeFonts(int(argv.size()), argv.data(), fromEnvironment);
    QVERIFY(!result.empty());
    QCOMPARE(result.back(), nullptr);
    QStringList actual;
    for (std::size_t i = 0; i + 1 < result.size(); ++i)
        actual << QString::fromLocal8Bit(result[i]);
    QCOMPARE(actual, expected);
}

void TestMainWindow::fieldsAreNamedAfterTheirLabels_data()
{
    QTest::addColumn<QString>("widget");
    QTest::addColumn<QString>("name");
    QTest::newRow("device name") << "lineEditDevName"
                                 << "Device name";
    QTest::newRow("SIP account") << "lineEditSipAccount"
                                 << "SIP account";
    QTest::newRow("MAC") << "lineEditMACAddr"
                         << "MAC";
    QTest::newRow("SIP port") << "spinBoxSipPort"
                              << "SIP port";
    QTest::newRow("HTTP port") << "spinBoxHttpPort"
                               << "HTTP port";
    const QPair<const char *, const char *> editors[] = { { "widgetIPAddr", "IP Address" },
        { "widgetSubnetMask", "Subnet mask" }, { "widgetGateway", "Gateway" } };
    for (const auto &editor : editors) {
        QTest::newRow(editor.first) << editor.first << editor.second;
        for (int octet = 1; octet <= 4; ++octet) {
            const QString field = QStringLiteral("%1/txtIP%2").arg(editor.first).arg(octet);
            QTest::newRow(qPrintable(field))
                << field << QStringLiteral("%1, octet %2 of 4").arg(editor.second).arg(octet);
        }
    }
}

void TestMainWindow::fieldsAreNamedAfterTheirLabels()
{
    QFETCH(QString, widget);
    QFETCH(QString, name);
    const QStringList path = widget.split('/');
    QWidget *found = child<QWidget>(qPrintable(path.first()));
    if (path.size() > 1)
        found = found->findChild<QLineEdit *>(path.at(1));
    QVERIFY(found);
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(found);
    QVERIFY(accessible);
    QCOMPARE(accessible->text(QAccessible::Name), name);
}

void TestMainWindow::formAndTableStartEmptyAndLocked()
{
    QVERIFY(!child<QPushButton>("pushButtonAddDevice")->isVisible());
    QVERIFY(child<QPushButton>("pushButtonSearch")->isVisible());
    QVERIFY(child<QPushButton>("pushButtonConfigNet")->isVisible());

    QTableWidget *t = table();
    QCOMPARE(t->columnCount(), 9);
    QCOMPARE(t->rowCount(), 0);
    QCOMPARE(t->editTriggers(), QAbstractItemView::NoEditTriggers);
    QStringList headers;
    for (int column = 0; column < 9; ++column)
        headers << t->horizontalHeaderItem(column)->text();
    QCOMPARE(headers,
        QStringList({ "SIP account", "Display name", "Device type", "IP address", "DHCP", "MAC address",
            "Device status", "HTTP port", "SIP port" }));

    // Typing reaches the editable fields only.
    auto typeInto = [](QWidget *w) {
        w->setFocus();
        QTest::keyClicks(w, "123");
    };
    auto *mac = child<QLineEdit>("lineEditMACAddr");
    auto *name = child<QLineEdit>("lineEditDevName");
    auto *sipPort = child<QSpinBox>("spinBoxSipPort");
    auto *httpPort = child<QSpinBox>("spinBoxHttpPort");
    typeInto(mac);
    typeInto(name);
    typeInto(sipPort);
    QCOMPARE(mac->text(), QString());
    QCOMPARE(name->text(), QString("123"));
    QCOMPARE(sipPort->value(), 0);
    httpPort->selectAll();
    httpPort->setFocus();
    QTest::keyClicks(httpPort, "99999");
    QVERIFY(httpPort->value() <= 65535);

    auto *statusLabel = child<QStatusBar>("statusbar")->findChild<QLabel *>();
    QVERIFY(statusLabel);
    QCOMPARE(statusLabel->text(), QString());
    QCOMPARE(statusLabel->textFormat(), Qt::PlainText);
}

void TestMainWindow::buttonAndRowIconsAreEmbedded()
{
    for (const char *path : { ":/images/green.png", ":/images/add.png", ":/images/search.png",
             ":/images/setting.png", ":/images/offline.png", ":/images/red.png" }) {
        const QIcon icon(QString::fromLatin1(path));
        QVERIFY2(!icon.isNull(), path);
        QCOMPARE(icon.availableSizes(), QList<QSize> { QSize(32, 32) });
    }
    QCOMPARE(child<QPushButton>("pushButtonSearch")->iconSize(), QSize(24, 24));
    QVERIFY(!child<QPushButton>("pushButtonConfigNet")->icon().isNull());

    addDevice("02:00:00:00:00:01");
    QVERIFY(!table()->item(0, 0)->icon().isNull());
}

void TestMainWindow::clickOnEmptySpaceClearsForm_data()
{
    QTest::addColumn<int>("rows");
    QTest::newRow("below the last row") << 2;
    QTest::newRow("empty table") << 0;
}

void TestMainWindow::clickOnEmptySpaceClearsForm()
{
    QFETCH(int, rows);
    for (int row = 0; row < rows; ++row)
        addDevice(QString("02:00:00:00:00:0%1").arg(row), { { "dhcp", true } });
    auto *mac = child<QLineEdit>("lineEditMACAddr");
    auto *dhcp = child<QCheckBox>("checkBoxDhcp");
    auto *ipEditor = child<IPAddress>("widgetIPAddr");
    if (rows > 0) {
        clickRow(rows - 1);
        QCOMPARE(mac->text(), QString("02:00:00:00:00:0%1").arg(rows - 1));
        QVERIFY(dhcp->isChecked());
        QVERIFY(!ipEditor->isEnabled());
    } else {
        child<QLineEdit>("lineEditDevName")->setText("typed");
    }

    QTableWidget *t = table();
    const QPoint empty(t->viewport()->width() / 2, t->viewport()->height() - 5);
    QTest::mouseMove(t->viewport(), empty);
    QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, empty);

    QCOMPARE(t->currentItem(), nullptr);
    QVERIFY(t->selectedItems().isEmpty());
    QCOMPARE(mac->text(), QString());
    QCOMPARE(child<QLineEdit>("lineEditDevName")->text(), QString());
    QVERIFY(!dhcp->isChecked());
    QVERIFY(ipEditor->isEnabled());
    QCOMPARE(child<QSpinBox>("spinBoxHttpPort")->value(), 0);
    QCOMPARE(QApplication::focusWidget(), t);
}

void TestMainWindow::rowClickFillsForm_data()
{
    QTest::addColumn<QJsonObject>("overrides");
    QTest::addColumn<int>("httpPortShown");
    QTest::addColumn<bool>("dhcpShown");

    QTest::newRow("port 80") << QJsonObject { { "http_Port", 80 } } << 80 << false;
    QTest::newRow("port 0") << QJsonObject { { "http_Port", 0 } } << 0 << false;
    QTest::newRow("port 8080, dhcp") << QJsonObject { { "http_Port", 8080 }, { "dhcp", true } } << 8080
                                     << true;
    QTest::newRow("port above range") << QJsonObject { { "http_Port", 70000 } } << 65535 << false;
    QTest::newRow("negative port") << QJsonObject { { "http_Port", -5 } } << 0 << false;
}

void TestMainWindow::rowClickFillsForm()
{
    QFETCH(QJsonObject, overrides);
    QFETCH(int, httpPortShown);
    QFETCH(bool, dhcpShown);

    overrides.insert("ipaddr", "198.51.100.123");
    overrides.insert("gateway", "198.51.100.254");
    addDevice("02:00:00:00:00:99", overrides);
    clickRow(0);

    QCOMPARE(child<QLineEdit>("lineEditSipAccount")->text(), QString("1001"));
    QCOMPARE(child<QSpinBox>("spinBoxSipPort")->value(), 5060);
    QCOMPARE(child<QLineEdit>("lineEditDevName")->text(), QString("Lobby"));
    QCOMPARE(child<QLineEdit>("lineEditMACAddr")->text(), QString("02:00:00:00:00:99"));
    QCOMPARE(child<IPAddress>("widgetIPAddr")->getIP(), QString("198.51.100.123"));
    QCOMPARE(child<IPAddress>("widgetSubnetMask")->getIP(), QString("255.255.255.0"));
    QCOMPARE(child<IPAddress>("widgetGateway")->getIP(), QString("198.51.100.254"));
    QCOMPARE(child<QSpinBox>("spinBoxHttpPort")->value(), httpPortShown);
    QCOMPARE(child<QCheckBox>("checkBoxDhcp")->isChecked(), dhcpShown);
    for (const char *name : { "widgetIPAddr", "widgetSubnetMask", "widgetGateway" })
        QCOMPARE(child<IPAddress>(name)->isEnabled(), !dhcpShown);
    // The editors' auto-advance must not leave the focus in the form.
    QCOMPARE(QApplication::focusWidget(), table());
}

void TestMainWindow::invalidAddressKeepsEditorContents()
{
    addDevice("02:00:00:00:00:01", { { "gateway", "198.51.100.1" } });
    addDevice("02:00:00:00:00:02", { { "gateway", "" } });
    clickRow(0);
    clickRow(1);
    QCOMPARE(child<IPAddress>("widgetGateway")->getIP(), QString("198.51.100.1"));

    // After the form was cleared, the empty gateway leaves the editor cleared.
    QTableWidget *t = table();
    const QPoint empty(5, t->viewport()->height() - 5);
    QTest::mouseMove(t->viewport(), empty);
    QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, empty);
    clickRow(1);
    QCOMPARE(child<IPAddress>("widgetGateway")->getIP(), QString("..."));
}

void TestMainWindow::dhcpRuleEnablesEditors()
{
    addDevice("02:00:00:00:00:01", { { "dhcp", true } });
    clickRow(0);
    auto *dhcp = child<QCheckBox>("checkBoxDhcp");
    auto *editor = child<IPAddress>("widgetSubnetMask");
    QVERIFY(!editor->isEnabled());
    QCOMPARE(editor->getIP(), QString("255.255.255.0"));
    QVERIFY(child<QSpinBox>("spinBoxHttpPort")->isEnabled());

    dhcp->setChecked(false);
    QVERIFY(editor->isEnabled());

    // The box already shows the device's value: no signal, the editors still follow it.
    dhcp->blockSignals(true);
    dhcp->setChecked(true);
    dhcp->blockSignals(false);
    QVERIFY(editor->isEnabled());
    clickRow(0);
    QVERIFY(!editor->isEnabled());
}

void TestMainWindow::activationOpensWebPage_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("url");
    const QString ip("198.51.100.7");
    QTest::newRow("80") << ip << 80 << "http://198.51.100.7";
    QTest::newRow("8080") << ip << 8080 << "http://198.51.100.7:8080";
    QTest::newRow("0") << ip << 0 << "http://198.51.100.7:0";
    QTest::newRow("255.255.255.255") << "255.255.255.255" << 80 << "http://255.255.255.255";
    // A device's text must never choose the site: nothing opens.
    QTest::newRow("port 65536") << ip << 65536 << QString();
    QTest::newRow("negative port") << ip << -1 << QString();
    QTest::newRow("user-info") << "1.2.3.4@evil.example" << 80 << QString();
    QTest::newRow("path and fragment") << "evil.example/login#" << 8080 << QString();
    QTest::newRow("address and path") << "198.51.100.7/x" << 80 << QString();
    QTest::newRow("host name") << "evil.example" << 80 << QString();
    QTest::newRow("IPv6") << "2001:db8::1" << 80 << QString();
    QTest::newRow("spaces") << " 198.51.100.7 " << 80 << QString();
    QTest::newRow("empty") << "" << 80 << QString();
    QTest::newRow("fifth octet") << "198.51.100.7.1" << 80 << QString();
    QTest::newRow("octet 256") << "198.51.100.256" << 80 << QString();
    QTest::newRow("three octets") << "198.51.100" << 80 << QString();
    QTest::newRow("leading zero") << "198.51.100.07" << 80 << QString();
}

void TestMainWindow::activationOpensWebPage()
{
    QFETCH(QString, address);
    QFETCH(int, port);
    QFETCH(QString, url);
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("http", &catcher, "openUrl");
    addDevice("02:00:00:00:00:01", { { "ipaddr", address }, { "http_Port", port } });

    QStringList lines;
    {
        LogCapture log;
        // A double-click is a click followed by the double-click event.
        QTableWidget *t = table();
        const QPoint cell = t->visualItemRect(t->item(0, 3)).center();
        QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, cell);
        QTest::mouseDClick(t->viewport(), Qt::LeftButton, {}, cell);
        lines = log.lines();
    }
    QDesktopServices::unsetUrlHandler("http");

    QStringList opened;
    for (const QUrl &each : qAsConst(catcher.urls))
        opened << each.toString();
    QCOMPARE(opened, url.isEmpty() ? QStringList() : QStringList { url });
    QVERIFY(lines.contains(url.isEmpty() ? "打开网页链接失败" : "成功打开网页链接"));
    QCOMPARE(child<QLineEdit>("lineEditMACAddr")->text(), QString("02:00:00:00:00:01"));
}

void TestMainWindow::enterOpensWebPageWithoutRefilling()
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("http", &catcher, "openUrl");
    addDevice("02:00:00:00:00:01", { { "ipaddr", "198.51.100.11" } });
    addDevice("02:00:00:00:00:02", { { "ipaddr", "198.51.100.12" }, { "http_Port", 8080 } });
    clickRow(0);
    QTableWidget *t = table();
    QTest::keyClick(t, Qt::Key_Down);
    QCOMPARE(t->currentRow(), 1);
    QTest::keyClick(t, Qt::Key_Return);
    QDesktopServices::unsetUrlHandler("http");

    QCOMPARE(catcher.urls, QList<QUrl> { QUrl("http://198.51.100.12:8080") });
    QCOMPARE(child<QLineEdit>("lineEditMACAddr")->text(), QString("02:00:00:00:00:01"));
}

void TestMainWindow::setParametersWithoutDeviceAsksForOne()
{
    auto *statusLabel = child<QStatusBar>("statusbar")->findChild<QLabel *>();
    statusLabel->setText("before");
    QString title;
    QString text;
    QTimer::singleShot(0, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QVERIFY(box);
        title = box->windowTitle();
        text = box->text();
        QCOMPARE(box->icon(), QMessageBox::Information);
        QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
        box->button(QMessageBox::Ok)->click();
    });
    child<QPushButton>("pushButtonConfigNet")->click();
    QCOMPARE(title, QString("Operation Prompt"));
    QCOMPARE(text, QString("Please select a device!"));
    QCOMPARE(statusLabel->text(), QString("before"));
}

void TestMainWindow::searchWithoutSocketsChangesNothing()
{
    addDevice("02:00:00:00:00:01");
    auto *search = child<QPushButton>("pushButtonSearch");
    search->click();
    QVERIFY(search->isEnabled());
    QCOMPARE(table()->rowCount(), 1);
    QCOMPARE(child<QStatusBar>("statusbar")->findChild<QLabel *>()->text(), QString());
}

void TestMainWindow::rowAddLeavesSelectionAndForm()
{
    addDevice("02:00:00:00:00:01");
    clickRow(0);
    addDevice("02:00:00:00:00:02");
    QCOMPARE(table()->currentRow(), 0);
    QCOMPARE(child<QLineEdit>("lineEditMACAddr")->text(), QString("02:00:00:00:00:01"));
    QCOMPARE(table()->rowCount(), 2);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
